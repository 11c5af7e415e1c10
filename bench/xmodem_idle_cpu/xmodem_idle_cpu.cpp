// CPU share of SendFile waiting for a start signal on a silent pseudo-terminal: all ten
// attempts and the clean-up must sleep on the line, not spin.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "../support/idle_line.h"
#include "serial/posix_driver.h"
#include "serial/system_timing.h"
#include "transfer/xmodem.h"

namespace {

// Ten attempts of this wait, then the one-second settle of the clean-up.
constexpr int kHandshakeMs = 1000;
constexpr double kTargetPercent = 5.0;

}  // namespace

int main() {
  using namespace zephor;
  using bench::CpuSeconds;
  const int master = bench::OpenSilentCom1();
  if (master < 0) return 1;
  const auto file = std::filesystem::temp_directory_path() / "zephor_bench_idle.bin";
  std::ofstream(file, std::ios::binary) << std::string(1000, 'x');

  serial::PosixPortFactory factory;
  serial::SystemTiming timing;
  serial::PortHandle port(serial::OpenPort({&factory, &timing}, 0, 9600, 'N', 8, 1));
  if (port->status != serial::kOk) {
    std::fprintf(stderr, "open %s failed: %d\n", std::getenv("ZEPHOR_COM1"), port->status);
    return 1;
  }
  const double cpuStart = CpuSeconds();
  const auto wallStart = std::chrono::steady_clock::now();
  const int rc = transfer::SendFile(
      *port, file.string(), transfer::XferOptions{{transfer::kTagHandshakeWait, kHandshakeMs}});
  const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - wallStart;
  const double cpu = CpuSeconds() - cpuStart;
  const double percent = 100.0 * cpu / wall.count();
  std::filesystem::remove(file);
  close(master);

  std::printf(
      "SendFile on a silent line returned %d after %.3f s wall, %.3f s CPU: %.2f %% "
      "(target < %.0f %%)\n",
      rc, wall.count(), cpu, percent, kTargetPercent);
  return percent < kTargetPercent ? 0 : 2;
}
