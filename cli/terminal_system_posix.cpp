#include <unistd.h>

#include <cstdlib>

#include "cli/terminal_system.h"
#include "serial/posix_driver.h"
#include "serial/system_timing.h"

namespace zephor::cli {
namespace {
// The variable the POSIX driver reads for the device of COM1.
constexpr char kCom1Variable[] = "ZEPHOR_COM1";
}  // namespace

std::unique_ptr<serial::PortFactory> SystemPortFactory() {
  return std::make_unique<serial::PosixPortFactory>();
}

std::unique_ptr<serial::Timing> SystemClock() { return std::make_unique<serial::SystemTiming>(); }

std::string DeviceOfPort(int portIndex) { return serial::PosixDevicePath(portIndex); }

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) != 0; }

bool UseDeviceAsCom1(const std::string& path) {
  return setenv(kCom1Variable, path.c_str(), 1) == 0;
}

}  // namespace zephor::cli
