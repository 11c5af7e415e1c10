// Block by block: number pair, sequence and CRC are judged once the whole block is in.
#include "sim/xmodem_block_receiver.h"

#include "sim/check_codes.h"

namespace zephor::sim {
namespace {

// Until the first block comes, C is repeated this often, this many times.
constexpr std::uint32_t kRequestRepeatMs = 3000;
constexpr int kMaxRequests = 20;
// Silence inside a block ends the block; silence between blocks costs a NAK.
constexpr std::uint32_t kByteGapMs = 1000;
constexpr std::uint32_t kBlockWaitMs = 10000;
// Silence after EOT before the end is believed.
constexpr std::uint32_t kEotQuietMs = 1000;
constexpr std::size_t kNumberPairSize = 2;
constexpr std::size_t kCrcSize = 2;

}  // namespace

const char* OutcomeName(TransferOutcome outcome) {
  switch (outcome) {
    case TransferOutcome::kRunning:
      return "running";
    case TransferOutcome::kDone:
      return "done";
    case TransferOutcome::kCancelled:
      return "cancelled";
    case TransferOutcome::kGaveUp:
      return "gave up";
  }
  return "?";
}

void XmodemBlockReceiver::Start(std::uint32_t nowMs, Outbox& out) {
  out.push_back(kXmodemCrcRequest);
  requests_ = 1;
  lastByteMs_ = nowMs;
}

void XmodemBlockReceiver::End(TransferOutcome outcome, Outbox& out, const std::string& why) {
  outcome_ = outcome;
  // Whoever stops a transfer tells the sender with two CAN.
  if (outcome != TransferOutcome::kDone) {
    out.push_back(kXmodemCan);
    out.push_back(kXmodemCan);
  }
  Log("receive " + std::string(OutcomeName(outcome)) + ": " + why);
}

void XmodemBlockReceiver::Reject(Outbox& out, const std::string& why) {
  out.push_back(kXmodemNak);
  ++naksSent_;
  Log("NAK: " + why);
  if (++errors_ >= kXmodemMaxErrors) End(TransferOutcome::kGaveUp, out, "too many errors");
}

void XmodemBlockReceiver::Receive(std::uint8_t byte, std::uint32_t nowMs, Outbox& out) {
  if (outcome_ != TransferOutcome::kRunning) return;
  lastByteMs_ = nowMs;
  if (eotPending_) {
    eotPending_ = false;
    Log("bytes after EOT: it was noise");
  }
  if (blockSize_ == 0) {
    const std::uint8_t previous = lastStartByte_;
    lastStartByte_ = byte;
    if (byte == kXmodemSoh || byte == kXmodemStx) {
      blockSize_ = byte == kXmodemSoh ? kXmodemShortBlock : kXmodemLongBlock;
      block_.clear();
    } else if (byte == kXmodemEot) {
      // Believed only when the line stays quiet: a lone 0x04 can be the rest of a broken block.
      eotPending_ = true;
    } else if (byte == kXmodemCan && previous == kXmodemCan) {
      outcome_ = TransferOutcome::kCancelled;
      Log("receive cancelled: the sender sent two CAN");
    }
    return;  // anything else between blocks is line noise
  }
  block_.push_back(byte);
  if (block_.size() == kNumberPairSize + blockSize_ + kCrcSize) JudgeBlock(out);
}

void XmodemBlockReceiver::JudgeBlock(Outbox& out) {
  const std::size_t size = blockSize_;
  blockSize_ = 0;
  const std::uint8_t number = block_[0];
  if (static_cast<std::uint8_t>(~block_[1]) != number) return Reject(out, "bad block numbers");
  const std::uint8_t* payload = block_.data() + kNumberPairSize;
  const unsigned sent =
      (block_[kNumberPairSize + size] << kByteBits) | block_[kNumberPairSize + size + 1];
  if (InstrumentCrc16(payload, size) != sent) return Reject(out, "bad CRC");
  if (blocksAccepted_ > 0 && number == static_cast<std::uint8_t>(expected_ - 1)) {
    out.push_back(kXmodemAck);
    ++duplicates_;
    Log("duplicate block " + std::to_string(number));
    return;
  }
  if (number != expected_) return Reject(out, "out of sequence");
  ++blocksSeen_;
  if (blocksSeen_ <= faults_.nakFirstBlocks) return Reject(out, "fault: refusing early block");
  if (faults_.cancelAtBlock > 0 && blocksAccepted_ + 1 == faults_.cancelAtBlock)
    return End(TransferOutcome::kCancelled, out,
               "fault: cancel at block " + std::to_string(faults_.cancelAtBlock));
  data_.insert(data_.end(), payload, payload + size);
  ++blocksAccepted_;
  ++expected_;
  errors_ = 0;
  out.push_back(kXmodemAck);
}

void XmodemBlockReceiver::Tick(std::uint32_t nowMs, Outbox& out) {
  if (outcome_ != TransferOutcome::kRunning) return;
  const std::uint32_t quiet = nowMs - lastByteMs_;
  if (eotPending_) {
    if (quiet < kEotQuietMs) return;
    eotPending_ = false;
    out.push_back(kXmodemAck);
    return End(TransferOutcome::kDone, out, std::to_string(data_.size()) + " bytes");
  }
  if (blockSize_ != 0) {
    if (quiet < kByteGapMs) return;
    blockSize_ = 0;
    lastByteMs_ = nowMs;
    return Reject(out, "block cut short");
  }
  if (blocksAccepted_ == 0 && blocksSeen_ == 0 && naksSent_ == 0) {
    if (quiet < kRequestRepeatMs) return;
    if (requests_ >= kMaxRequests) return End(TransferOutcome::kGaveUp, out, "no sender");
    out.push_back(kXmodemCrcRequest);
    ++requests_;
    lastByteMs_ = nowMs;
    return;
  }
  if (quiet < kBlockWaitMs) return;
  lastByteMs_ = nowMs;
  Reject(out, "no block");
}

}  // namespace zephor::sim
