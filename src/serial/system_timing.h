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
  // Pumps events, then waits at most 1 ms for serial input instead of spinning.
  void Idle(SerialPort* port) override;
  void SleepMs(std::uint32_t ms) override;
  bool StopRequested() const override { return stop_.load(); }
  void RequestStop() { stop_.store(true); }

 private:
  std::function<void()> pump_;
  std::atomic<bool> stop_{false};
};

}  // namespace zephor::serial
