// The tick source, idle hook and plain sleeps that every wait of the system is given.
#pragma once

#include <cstdint>

namespace zephor::serial {

struct SerialPort;

// A long wait wakes on the clock's marks this far apart, so the window's events and the
// terminal's live line are served 20 times a second however long the wait (a view redraws at
// most five times a second).
inline constexpr std::uint32_t kServeEveryMs = 50;
// One short pass of the idle hook: for loops that look at something other than the line's
// input, such as a transmit queue that drains.
inline constexpr std::uint32_t kShortPassMs = 1;

// Milliseconds from nowMs to the next mark of kServeEveryMs, never 0: a pass that ends on a mark
// does not make the next one spin.
inline std::uint32_t UntilNextServe(std::uint32_t nowMs) {
  return kServeEveryMs - nowMs % kServeEveryMs;
}

// Waiting is injected: production reads the monotonic clock and pumps the window's events,
// tests advance a virtual clock and run a simulated peer.
class Timing {
 public:
  virtual ~Timing() = default;
  // Millisecond tick counter; wraps like the system's 32-bit counter.
  virtual std::uint32_t TickMs() = 0;
  // Runs while a timed function waits, at most maxMs more: keeps the window alive and lets time
  // pass. A real clock serves the window, then sleeps until a byte comes on port (when there is
  // one), maxMs pass or the next mark of kServeEveryMs, whichever is first; a virtual clock
  // moves one millisecond whatever maxMs says.
  virtual void IdleFor(SerialPort* port, std::uint32_t maxMs) = 0;
  // One short pass of the idle hook.
  void Idle(SerialPort* port) { IdleFor(port, kShortPassMs); }
  // A plain pause during which the window is not serviced.
  virtual void SleepMs(std::uint32_t ms) = 0;
  // True once the operator closed the window: every wait then ends at once.
  virtual bool StopRequested() const { return false; }
};

}  // namespace zephor::serial
