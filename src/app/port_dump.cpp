// Port dump over the command link's line settings.
#include "app/port_dump.h"

#include "device/command_link.h"

namespace zephor::app {

int DumpOpenedPort(const serial::PortEnvironment& env, int portIndex,
                   const serial::LinePrinter& printer) {
  serial::PortHandle port(serial::OpenPort(env, portIndex, device::kBaudRate, device::kParity,
                                           device::kDataBits, device::kStopBits));
  const int openStatus = port->status;
  port->DumpPort(printer);
  port.Close();
  return openStatus;
}

}  // namespace zephor::app
