// The port dump of the command line: a port opened with the application's line settings and
// described line by line.
#pragma once

#include <string>

#include "serial/serial_port.h"

namespace zephor::app {

// Opens portIndex at 9600 baud, 8 data bits, no parity, 1 stop bit, hands DumpPort's lines to
// printer, closes the port and returns the status the open left in the port.
int DumpOpenedPort(const serial::PortEnvironment& env, int portIndex,
                   const serial::LinePrinter& printer);

}  // namespace zephor::app
