// The instrument's XMODEM sender: waits for C or NAK, sends 128-byte blocks padded with 0x1A, ends
// with EOT.
#pragma once

#include "sim/xmodem_bytes.h"

namespace zephor::sim {

struct SenderFaults {
  int cancelAtBlock = 0;  // send two CAN instead of block k (1-based; 0: never)
  int unplugAtBlock = 0;  // fall silent for good instead of sending block k (1-based; 0: never)
};

class XmodemBlockSender {
 public:
  XmodemBlockSender(std::vector<std::uint8_t> data, std::uint32_t nowMs, SenderFaults faults = {},
                    TransferLog log = {});

  void Receive(std::uint8_t byte, std::uint32_t nowMs, Outbox& out);
  // Runs the time limits: the wait for the receiver and for each reply.
  void Tick(std::uint32_t nowMs, Outbox& out);

  TransferOutcome outcome() const { return outcome_; }
  bool crcMode() const { return crcMode_; }
  int blocksSent() const { return blocksSent_; }
  int retries() const { return retries_; }
  // The line was pulled out at the block the faults name: nothing more goes out.
  bool unplugged() const { return unplugged_; }

 private:
  enum class Stage { kWaitingForReceiver, kWaitingForAck, kWaitingForEotAck };

  void SendCurrent(Outbox& out);
  void Retry(Outbox& out, const std::string& why);
  void End(TransferOutcome outcome, Outbox& out, const std::string& why);
  std::size_t BlockCount() const;
  void Log(const std::string& text) const {
    if (log_) log_(text);
  }

  std::vector<std::uint8_t> data_;
  SenderFaults faults_;
  TransferLog log_;
  Stage stage_ = Stage::kWaitingForReceiver;
  TransferOutcome outcome_ = TransferOutcome::kRunning;
  bool crcMode_ = true;
  std::size_t block_ = 1;  // 1-based number of the block in flight
  std::uint8_t lastReply_ = 0;
  std::uint32_t sinceMs_ = 0;
  int errors_ = 0;
  int blocksSent_ = 0;
  int retries_ = 0;
  bool unplugged_ = false;
};

}  // namespace zephor::sim
