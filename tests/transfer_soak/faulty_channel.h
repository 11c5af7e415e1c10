// One direction of a noisy line between the host's memory line and an XMODEM peer: bytes are
// corrupted, dropped or doubled (seeded), sometimes held back, and carried at a paced rate.
#pragma once

#include <cstdint>
#include <deque>
#include <random>
#include <utility>

#include "sim/line_faults.h"

namespace zephor::transfer {

struct ChannelRates {
  sim::LineFaultRates damage;
  double delay = 0;    // chance that a byte (and what follows it) is held back
  int maxDelayMs = 0;  // longest hold, from 1 ms
  int bytesPerMs = 1;  // pace of the line; about 9600 baud at 1
};

class FaultyChannel {
 public:
  explicit FaultyChannel(const ChannelRates& rates)
      : rates_(rates), faults_(rates.damage), random_(rates.damage.seed ^ kDelaySalt) {}

  // Takes one byte onto the line at nowMs.
  void Push(std::uint8_t byte, std::uint32_t nowMs);
  // Hands over, in order, the bytes whose time has come, at most the line's pace.
  template <typename Take>
  void Deliver(std::uint32_t nowMs, Take take) {
    for (int n = 0; n < rates_.bytesPerMs && !inFlight_.empty(); ++n) {
      if (static_cast<std::int32_t>(inFlight_.front().first - nowMs) > 0) break;
      const std::uint8_t b = inFlight_.front().second;
      inFlight_.pop_front();
      take(b);
    }
  }
  long touched() const { return faults_.touched(); }
  long delays() const { return delays_; }

 private:
  static constexpr std::uint32_t kDelaySalt = 0x9E3779B9u;
  ChannelRates rates_;
  sim::LineFaults faults_;
  std::mt19937 random_;
  std::deque<std::pair<std::uint32_t, std::uint8_t>> inFlight_;  // release time, byte
  std::uint32_t lastRelease_ = 0;
  long delays_ = 0;
};

}  // namespace zephor::transfer
