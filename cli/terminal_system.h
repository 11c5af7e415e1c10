// What the command line needs from the system it runs on: its serial driver and clock, and
// what kind of terminal standard error is. One half per system.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "serial/serial_port.h"
#include "serial/timing.h"

namespace zephor::cli {

std::unique_ptr<serial::PortFactory> SystemPortFactory();
std::unique_ptr<serial::Timing> SystemClock();
bool StandardErrorIsTerminal();
// A terminal on standard error that takes the cursor moves a table redrawn in place needs
// (Windows' console is asked to take them).
bool StandardErrorTakesCursorMoves();
// The columns of the terminal on standard error; 0 when unknown.
std::size_t TerminalColumns();
// Writes to a pipe whose reader is gone fail instead of ending the program.
void KeepRunningWithoutReader();

}  // namespace zephor::cli
