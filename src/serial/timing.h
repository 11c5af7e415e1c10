// The tick source, idle hook and plain sleeps that every wait of the system is given.
#pragma once

#include <cstdint>

namespace zephor::serial {

struct SerialPort;

// Waiting is injected: production reads the monotonic clock and pumps the window's events,
// tests advance a virtual clock and run a simulated peer.
class Timing {
 public:
  virtual ~Timing() = default;
  // Millisecond tick counter; wraps like the system's 32-bit counter.
  virtual std::uint32_t TickMs() = 0;
  // Runs while a timed function waits: keeps the window alive and lets time pass.
  virtual void Idle(SerialPort* port) = 0;
  // A plain pause during which the window is not serviced.
  virtual void SleepMs(std::uint32_t ms) = 0;
  // True once the operator closed the window: every wait then ends at once.
  virtual bool StopRequested() const { return false; }
};

}  // namespace zephor::serial
