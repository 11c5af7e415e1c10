// Real time for production: the monotonic millisecond clock and the front end's event pump.
#pragma once

#include <atomic>
#include <functional>

#include "serial/timing.h"

namespace zephor::serial {

class SystemTiming final : public Timing {
 public:
  // pumpEvents dispatches what the window has pending and returns at once.
  explicit SystemTiming(std::function<void()> pumpEvents = {}) : pump_(std::move(pumpEvents)) {}
  std::uint32_t TickMs() override;
  // Pumps events, then sleeps on the port's input until a byte comes, maxMs pass or the next
  // mark of kServeEveryMs; without a port it only sleeps.
  void IdleFor(SerialPort* port, std::uint32_t maxMs) override;
  void SleepMs(std::uint32_t ms) override;
  bool StopRequested() const override { return stop_.load(); }
  void RequestStop() { stop_.store(true); }

 private:
  std::function<void()> pump_;
  std::atomic<bool> stop_{false};
};

}  // namespace zephor::serial
