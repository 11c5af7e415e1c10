// Real time: steady clock ticks, event pump, and a sleep on the line instead of spinning.
#include "serial/system_timing.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "serial/serial_port.h"

namespace zephor::serial {

std::uint32_t SystemTiming::TickMs() {
  using namespace std::chrono;
  return static_cast<std::uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SystemTiming::IdleFor(SerialPort* port, std::uint32_t maxMs) {
  if (pump_) pump_();
  const std::uint32_t waitMs = std::min(maxMs, UntilNextServe(TickMs()));
  if (port != nullptr && port->ops().WaitForInput(static_cast<int>(waitMs), port->awaitedBytes))
    return;
  // A driver that cannot wait on its line (or a line that went away) is looked at again after a
  // short sleep, so a byte still comes through at once; a pause without a port sleeps it all.
  SleepMs(port != nullptr ? std::min(waitMs, kShortPassMs) : waitMs);
}

void SystemTiming::SleepMs(std::uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace zephor::serial
