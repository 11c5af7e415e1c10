// One block in flight; the next leaves only after the receiver's ACK.
#include "sim/xmodem_block_sender.h"

#include <algorithm>

#include "sim/check_codes.h"

namespace zephor::sim {
namespace {

// The receiver has a minute to ask for the data; each reply longer than the host's own
// ten-second wait before it repeats its NAK.
constexpr std::uint32_t kReceiverWaitMs = 60000;
constexpr std::uint32_t kReplyWaitMs = 15000;
constexpr std::size_t kBlockNumberModulo = 256;

}  // namespace

XmodemBlockSender::XmodemBlockSender(std::vector<std::uint8_t> data, std::uint32_t nowMs,
                                     SenderFaults faults, TransferLog log)
    : data_(std::move(data)), faults_(faults), log_(std::move(log)), sinceMs_(nowMs) {}

std::size_t XmodemBlockSender::BlockCount() const {
  return (data_.size() + kXmodemShortBlock - 1) / kXmodemShortBlock;
}

void XmodemBlockSender::End(TransferOutcome outcome, Outbox& out, const std::string& why) {
  outcome_ = outcome;
  if (outcome == TransferOutcome::kGaveUp || outcome == TransferOutcome::kCancelled) {
    out.push_back(kXmodemCan);
    out.push_back(kXmodemCan);
  }
  Log("send " + std::string(OutcomeName(outcome)) + ": " + why);
}

void XmodemBlockSender::SendCurrent(Outbox& out) {
  if (block_ > BlockCount()) {
    stage_ = Stage::kWaitingForEotAck;
    out.push_back(kXmodemEot);
    return;
  }
  if (faults_.cancelAtBlock > 0 && block_ == static_cast<std::size_t>(faults_.cancelAtBlock))
    return End(TransferOutcome::kCancelled, out,
               "fault: cancel at block " + std::to_string(block_));
  if (faults_.unplugAtBlock > 0 && block_ == static_cast<std::size_t>(faults_.unplugAtBlock)) {
    if (!unplugged_) Log("fault: unplugged at block " + std::to_string(block_));
    unplugged_ = true;
    return;
  }
  stage_ = Stage::kWaitingForAck;
  std::uint8_t payload[kXmodemShortBlock];
  const std::size_t offset = (block_ - 1) * kXmodemShortBlock;
  const std::size_t take = std::min(kXmodemShortBlock, data_.size() - offset);
  std::fill(std::copy_n(data_.begin() + static_cast<long>(offset), take, payload),
            payload + kXmodemShortBlock, kXmodemPad);
  const auto number = static_cast<std::uint8_t>(block_ % kBlockNumberModulo);
  out.push_back(kXmodemSoh);
  out.push_back(number);
  out.push_back(static_cast<std::uint8_t>(~number));
  out.insert(out.end(), payload, payload + kXmodemShortBlock);
  if (crcMode_) {
    const std::uint16_t crc = InstrumentCrc16(payload, kXmodemShortBlock);
    out.push_back(static_cast<std::uint8_t>(crc >> kByteBits));
    out.push_back(static_cast<std::uint8_t>(crc));
  } else {
    out.push_back(BlockChecksum(payload, kXmodemShortBlock));
  }
  ++blocksSent_;
}

void XmodemBlockSender::Retry(Outbox& out, const std::string& why) {
  ++retries_;
  Log("resend block " + std::to_string(block_) + ": " + why);
  if (++errors_ >= kXmodemMaxErrors) return End(TransferOutcome::kGaveUp, out, "too many errors");
  SendCurrent(out);
}

void XmodemBlockSender::Receive(std::uint8_t byte, std::uint32_t nowMs, Outbox& out) {
  if (outcome_ != TransferOutcome::kRunning) return;
  const std::uint8_t previous = lastReply_;
  lastReply_ = byte;
  if (byte == kXmodemCan && previous == kXmodemCan)
    return End(TransferOutcome::kCancelled, out, "the receiver sent two CAN");
  if (stage_ == Stage::kWaitingForReceiver) {
    if (byte != kXmodemCrcRequest && byte != kXmodemNak) return;
    crcMode_ = byte == kXmodemCrcRequest;
    Log(std::string("send starts in ") + (crcMode_ ? "CRC" : "checksum") + " mode, " +
        std::to_string(data_.size()) + " bytes");
    sinceMs_ = nowMs;
    return SendCurrent(out);
  }
  if (byte == kXmodemAck) {
    sinceMs_ = nowMs;
    errors_ = 0;
    if (stage_ == Stage::kWaitingForEotAck)
      return End(TransferOutcome::kDone, out, std::to_string(blocksSent_) + " blocks");
    ++block_;
    return SendCurrent(out);
  }
  // A C while the first block is unanswered is the receiver asking again.
  const bool askedAgain = byte == kXmodemCrcRequest && block_ == 1;
  if (byte == kXmodemNak || askedAgain) {
    sinceMs_ = nowMs;
    Retry(out, "NAK");
  }
}

void XmodemBlockSender::Tick(std::uint32_t nowMs, Outbox& out) {
  if (outcome_ != TransferOutcome::kRunning) return;
  const std::uint32_t waited = nowMs - sinceMs_;
  if (stage_ == Stage::kWaitingForReceiver) {
    if (waited >= kReceiverWaitMs) End(TransferOutcome::kGaveUp, out, "nobody asked for the data");
    return;
  }
  if (waited < kReplyWaitMs) return;
  sinceMs_ = nowMs;
  Retry(out, "no reply");
}

}  // namespace zephor::sim
