#include <io.h>

#include <cstdio>

#include "cli/terminal_system.h"
#include "serial/win32_driver.h"
#include "serial/win32_timing.h"

namespace zephor::cli {

std::unique_ptr<serial::PortFactory> SystemPortFactory() {
  return std::make_unique<serial::Win32PortFactory>();
}

std::unique_ptr<serial::Timing> SystemClock() { return std::make_unique<serial::Win32Timing>(); }

bool StandardErrorIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

// Windows has no signal for a pipe without a reader: a write there fails.
void KeepRunningWithoutReader() {}

}  // namespace zephor::cli
