#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "cli/terminal_system.h"
#include "serial/posix_driver.h"
#include "serial/system_timing.h"

namespace zephor::cli {
std::unique_ptr<serial::PortFactory> SystemPortFactory() {
  return std::make_unique<serial::PosixPortFactory>();
}

std::unique_ptr<serial::Timing> SystemClock() { return std::make_unique<serial::SystemTiming>(); }

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) != 0; }

bool StandardErrorTakesCursorMoves() { return StandardErrorIsTerminal(); }

std::size_t TerminalColumns() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

void KeepRunningWithoutReader() { signal(SIGPIPE, SIG_IGN); }

}  // namespace zephor::cli
