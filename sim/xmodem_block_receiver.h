// The instrument's XMODEM receiver: asks with C, checks each CRC block, acknowledges, ends at EOT.
#pragma once

#include "sim/xmodem_bytes.h"

namespace zephor::sim {

struct ReceiverFaults {
  int nakFirstBlocks = 0;  // answer the first N blocks with NAK whatever they hold
  int cancelAtBlock = 0;   // send two CAN instead of acknowledging block k (1-based; 0: never)
};

class XmodemBlockReceiver {
 public:
  explicit XmodemBlockReceiver(ReceiverFaults faults = {}, TransferLog log = {})
      : faults_(faults), log_(std::move(log)) {}

  // Sends the first C.
  void Start(std::uint32_t nowMs, Outbox& out);
  void Receive(std::uint8_t byte, std::uint32_t nowMs, Outbox& out);
  // Runs the time limits: repeated requests, silence inside a block, giving up.
  void Tick(std::uint32_t nowMs, Outbox& out);

  TransferOutcome outcome() const { return outcome_; }
  // Every accepted block whole, padding included.
  const std::vector<std::uint8_t>& data() const { return data_; }
  int blocksAccepted() const { return blocksAccepted_; }
  int naksSent() const { return naksSent_; }
  int duplicates() const { return duplicates_; }

 private:
  void JudgeBlock(Outbox& out);
  void Reject(Outbox& out, const std::string& why);
  void End(TransferOutcome outcome, Outbox& out, const std::string& why);
  void Log(const std::string& text) const {
    if (log_) log_(text);
  }

  ReceiverFaults faults_;
  TransferLog log_;
  TransferOutcome outcome_ = TransferOutcome::kRunning;
  std::vector<std::uint8_t> data_;
  std::vector<std::uint8_t> block_;  // number pair, data and CRC of the block being read
  std::size_t blockSize_ = 0;        // 0 while waiting for a block start
  bool eotPending_ = false;          // EOT came; the line must stay quiet before it counts
  std::uint8_t expected_ = 1;        // number byte of the next new block
  std::uint8_t lastStartByte_ = 0;
  std::uint32_t lastByteMs_ = 0;
  int requests_ = 0;
  int errors_ = 0;
  int blocksAccepted_ = 0;
  int blocksSeen_ = 0;
  int naksSent_ = 0;
  int duplicates_ = 0;
};

}  // namespace zephor::sim
