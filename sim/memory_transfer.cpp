// The upload keeps exactly the announced length and replaces the memory only when its CRC matches.
#include "sim/memory_transfer.h"

#include <cstdio>

#include "sim/check_codes.h"

namespace zephor::sim {
namespace {

constexpr int kUploadKind = 3;
// Larger than any memory the instrument has; a bigger announcement is refused.
constexpr std::uint32_t kMaxMemoryBytes = 64u * 1024u * 1024u;
constexpr unsigned kCrcLimit = 0xFFFF;

}  // namespace

bool ParseUploadCommand(const std::string& command, std::uint32_t& length, std::uint16_t& crc) {
  int kind = 0;
  unsigned parsedLength = 0, parsedCrc = 0;
  int used = 0;
  if (std::sscanf(command.c_str(), "UPLOAD %d 0x%x 0x%x%n", &kind, &parsedLength, &parsedCrc,
                  &used) != 3)
    return false;
  if (static_cast<std::size_t>(used) != command.size() || kind != kUploadKind ||
      parsedLength > kMaxMemoryBytes || parsedCrc > kCrcLimit)
    return false;
  length = parsedLength;
  crc = static_cast<std::uint16_t>(parsedCrc);
  return true;
}

std::string DownloadReply(std::size_t memoryBytes) {
  char text[16];
  std::snprintf(text, sizeof text, "1 %x 0\r\n", static_cast<unsigned>(memoryBytes));
  return text;
}

void MemoryTransfer::StartDownload(const std::vector<std::uint8_t>& memory, std::uint32_t nowMs) {
  // The first downloads may be given up at their first block, whatever else is set.
  const bool cancel = downloads_ < faults_.cancelDownloads;
  const int unplugAt = downloads_ == 0 ? faults_.unplugAtDownloadBlock : 0;
  ++downloads_;
  sender_ = std::make_unique<XmodemBlockSender>(
      memory, nowMs, SenderFaults{cancel ? 1 : faults_.cancelAtBlock, unplugAt}, log_);
}

void MemoryTransfer::StartUpload(std::uint32_t length, std::uint16_t crc, std::uint32_t nowMs,
                                 Outbox& out) {
  uploadLength_ = length;
  uploadCrc_ = crc;
  uploaded_.reset();
  const bool cancel = uploads_++ < faults_.cancelUploads;
  receiver_ = std::make_unique<XmodemBlockReceiver>(
      ReceiverFaults{faults_.nakFirstBlocks, cancel ? 1 : faults_.cancelAtBlock}, log_);
  receiver_->Start(nowMs, out);
}

bool MemoryTransfer::active() const { return sender_ != nullptr || receiver_ != nullptr; }

void MemoryTransfer::Receive(std::uint8_t byte, std::uint32_t nowMs, Outbox& out) {
  if (sender_) sender_->Receive(byte, nowMs, out);
  if (receiver_) receiver_->Receive(byte, nowMs, out);
  Finish();
}

void MemoryTransfer::Tick(std::uint32_t nowMs, Outbox& out) {
  if (sender_) sender_->Tick(nowMs, out);
  if (receiver_) receiver_->Tick(nowMs, out);
  Finish();
}

void MemoryTransfer::Finish() {
  if (sender_ && sender_->outcome() != TransferOutcome::kRunning) sender_.reset();
  if (!receiver_ || receiver_->outcome() == TransferOutcome::kRunning) return;
  const auto& data = receiver_->data();
  if (receiver_->outcome() != TransferOutcome::kDone) {
    if (log_) log_("upload failed; memory kept");
  } else if (data.size() < uploadLength_) {
    if (log_) log_("upload short: " + std::to_string(data.size()) + " bytes; memory kept");
  } else if (InstrumentCrc16(data.data(), uploadLength_) != uploadCrc_) {
    if (log_) log_("upload CRC mismatch; memory kept");
  } else {
    uploaded_.emplace(data.begin(), data.begin() + uploadLength_);
  }
  receiver_.reset();
}

bool MemoryTransfer::TakeUploadedMemory(std::vector<std::uint8_t>& memory) {
  if (!uploaded_) return false;
  memory = std::move(*uploaded_);
  uploaded_.reset();
  return true;
}

}  // namespace zephor::sim
