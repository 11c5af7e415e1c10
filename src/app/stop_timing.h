// A Timing that can be told to stop: every wait over it ends at its next pass once the operator
// closed the window, whatever clock lies beneath.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>

#include "serial/timing.h"

namespace zephor::app {

class StopTiming final : public serial::Timing {
 public:
  explicit StopTiming(serial::Timing* inner) : inner_(inner) {}
  std::uint32_t TickMs() override { return inner_ != nullptr ? inner_->TickMs() : 0; }
  void IdleFor(serial::SerialPort* port, std::uint32_t maxMs) override {
    if (inner_ != nullptr) inner_->IdleFor(port, maxMs);
    if (chore_) chore_();
  }
  void SleepMs(std::uint32_t ms) override {
    if (inner_ != nullptr) inner_->SleepMs(ms);
  }
  bool StopRequested() const override {
    return stop_ || (inner_ != nullptr && inner_->StopRequested());
  }
  void RequestStop() { stop_ = true; }
  // Runs on every pass of a wait, after the clock beneath had its turn.
  void SetChore(std::function<void()> chore) { chore_ = std::move(chore); }

 private:
  serial::Timing* inner_;
  std::function<void()> chore_;
  bool stop_ = false;
};

}  // namespace zephor::app
