// The measurement memory on the wire: "DOWNLOAD" sends it by XMODEM, "UPLOAD 3 0x%x 0x%4x" takes a
// new one.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "sim/fault_set.h"
#include "sim/xmodem_block_receiver.h"
#include "sim/xmodem_block_sender.h"

namespace zephor::sim {

// Reads "UPLOAD 3 0x<length> 0x<crc>"; false when the command does not have that form.
bool ParseUploadCommand(const std::string& command, std::uint32_t& length, std::uint16_t& crc);

// The "DOWNLOAD" answer: "1 <length hex> 0\r\n", at most 15 bytes.
std::string DownloadReply(std::size_t memoryBytes);

class MemoryTransfer {
 public:
  MemoryTransfer(const FaultSet& faults, TransferLog log) : faults_(faults), log_(std::move(log)) {}

  // Starts sending memory; the host starts it with C or NAK.
  void StartDownload(const std::vector<std::uint8_t>& memory, std::uint32_t nowMs);
  // Starts receiving length bytes whose CRC-16 must be crc; sends the first C.
  void StartUpload(std::uint32_t length, std::uint16_t crc, std::uint32_t nowMs, Outbox& out);

  bool active() const;
  // A download's line was pulled out (the unplug fault): the instrument is gone for the host.
  bool unplugged() const { return sender_ != nullptr && sender_->unplugged(); }
  void Receive(std::uint8_t byte, std::uint32_t nowMs, Outbox& out);
  void Tick(std::uint32_t nowMs, Outbox& out);

  // After an upload ends: true with the new memory when all of it came and its CRC matched.
  bool TakeUploadedMemory(std::vector<std::uint8_t>& memory);

 private:
  void Finish();

  FaultSet faults_;
  TransferLog log_;
  std::unique_ptr<XmodemBlockSender> sender_;
  std::unique_ptr<XmodemBlockReceiver> receiver_;
  std::uint32_t uploadLength_ = 0;
  std::uint16_t uploadCrc_ = 0;
  std::optional<std::vector<std::uint8_t>> uploaded_;
  int downloads_ = 0;
  int uploads_ = 0;
};

}  // namespace zephor::sim
