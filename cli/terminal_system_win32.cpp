#include <io.h>
#include <windows.h>

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

// The console takes the terminal's cursor moves once it is asked to (Windows 10 and later);
// an older one shows the fleet one line per event instead of a table.
bool StandardErrorTakesCursorMoves() {
  const HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (!StandardErrorIsTerminal() || GetConsoleMode(console, &mode) == 0) return false;
  return SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

std::size_t TerminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info) == 0) return 0;
  return static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1);
}

// Windows has no signal for a pipe without a reader: a write there fails.
void KeepRunningWithoutReader() {}

}  // namespace zephor::cli
