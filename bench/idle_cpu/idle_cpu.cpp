// CPU share of a long ReadChar on a silent pseudo-terminal: the wait must sleep, not spin, and
// still serve the window (the idle hook's event pump) at least 20 times a second.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "../support/idle_line.h"
#include "serial/posix_driver.h"
#include "serial/system_timing.h"
#include "serial/timed_io.h"

namespace {

constexpr int kWaitMs = 15000;
constexpr double kTargetPercent = 5.0;
constexpr double kTargetServedPerSecond = 20.0;

}  // namespace

int main() {
  using namespace zephor::serial;
  using zephor::bench::CpuSeconds;
  const int master = zephor::bench::OpenSilentCom1();
  if (master < 0) return 1;

  PosixPortFactory factory;
  long served = 0;
  SystemTiming timing([&served] { ++served; });
  PortHandle port(OpenPort({&factory, &timing}, 0, 9600, 'N', 8, 1));
  if (port->status != kOk) {
    std::fprintf(stderr, "open %s failed: %d\n", std::getenv("ZEPHOR_COM1"), port->status);
    return 1;
  }

  const double cpuStart = CpuSeconds();
  const auto wallStart = std::chrono::steady_clock::now();
  const int rc = ReadChar(*port, kWaitMs);
  const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - wallStart;
  const double cpu = CpuSeconds() - cpuStart;
  const double percent = 100.0 * cpu / wall.count();
  const double servedPerSecond = served / wall.count();

  std::printf(
      "ReadChar(%d ms) returned %d after %.3f s wall, %.3f s CPU: %.2f %% (target < %.0f %%)\n",
      kWaitMs, rc, wall.count(), cpu, percent, kTargetPercent);
  std::printf("window served %ld times, %.2f a second (target at least %.0f)\n", served,
              servedPerSecond, kTargetServedPerSecond);
  close(master);
  return percent < kTargetPercent && servedPerSecond >= kTargetServedPerSecond ? 0 : 2;
}
