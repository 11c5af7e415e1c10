// The clock of a command-line run: the system's, with the terminal's chores (a signal that came,
// the live line's countdown) done on every pass of a wait, and a stop that ends every wait.
#pragma once

#include <functional>
#include <memory>
#include <utility>

#include "serial/timing.h"

namespace zephor::cli {

class TerminalTiming final : public serial::Timing {
 public:
  TerminalTiming(std::unique_ptr<serial::Timing> system, std::function<void()> chores = {})
      : system_(std::move(system)), chores_(std::move(chores)) {}
  void SetChores(std::function<void()> chores) { chores_ = std::move(chores); }

  std::uint32_t TickMs() override { return system_->TickMs(); }
  void IdleFor(serial::SerialPort* port, std::uint32_t maxMs) override {
    if (chores_) chores_();
    system_->IdleFor(port, maxMs);
  }
  void SleepMs(std::uint32_t ms) override { system_->SleepMs(ms); }
  bool StopRequested() const override { return stop_ || system_->StopRequested(); }
  void RequestStop() { stop_ = true; }

 private:
  std::unique_ptr<serial::Timing> system_;
  std::function<void()> chores_;
  bool stop_ = false;
};

}  // namespace zephor::cli
