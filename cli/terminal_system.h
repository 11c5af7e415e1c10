// What the command line needs from the system it runs on: its serial driver and clock, and
// whether standard error is a terminal. One half per system.
#pragma once

#include <memory>
#include <string>

#include "serial/serial_port.h"
#include "serial/timing.h"

namespace zephor::cli {

std::unique_ptr<serial::PortFactory> SystemPortFactory();
std::unique_ptr<serial::Timing> SystemClock();
bool StandardErrorIsTerminal();
// Writes to a pipe whose reader is gone fail instead of ending the program.
void KeepRunningWithoutReader();

}  // namespace zephor::cli
