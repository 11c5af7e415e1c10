// Real time: steady clock ticks, event pump, and a short wait on the line instead of spinning.
#include "serial/system_timing.h"

#include <chrono>
#include <thread>

#include "serial/serial_port.h"

namespace zephor::serial {
namespace {
constexpr int kIdleWaitMs = 1;
}

std::uint32_t SystemTiming::TickMs() {
  using namespace std::chrono;
  return static_cast<std::uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SystemTiming::Idle(SerialPort* port) {
  if (pump_) pump_();
  const bool waited = port != nullptr && port->ops().WaitForInput(kIdleWaitMs);
  if (!waited) std::this_thread::sleep_for(std::chrono::milliseconds(kIdleWaitMs));
}

void SystemTiming::SleepMs(std::uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace zephor::serial
