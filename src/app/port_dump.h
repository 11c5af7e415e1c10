// The port dump of the command line: a port named COM1 to COM4 or by a device path, opened with
// the application's line settings and described line by line.
#pragma once

#include <string>
#include <string_view>

#include "serial/serial_port.h"

namespace zephor::app {

inline constexpr int kPortCount = 4;

// COM1 to COM4 (any letter case) give port index 0 to 3; false for anything else.
bool PortIndexFromName(std::string_view name, int& portIndex);

// Opens portIndex at 9600 baud, 8 data bits, no parity, 1 stop bit, hands DumpPort's lines to
// printer, closes the port and returns the status the open left in the port.
int DumpOpenedPort(const serial::PortEnvironment& env, int portIndex,
                   const serial::LinePrinter& printer);

}  // namespace zephor::app
