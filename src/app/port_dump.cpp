// Port dump over the command link's line settings.
#include "app/port_dump.h"

#include "device/command_link.h"

namespace zephor::app {

namespace {
constexpr std::string_view kComPrefix = "COM";
}  // namespace

bool PortIndexFromName(std::string_view name, int& portIndex) {
  if (name.size() != kComPrefix.size() + 1) return false;
  for (std::size_t i = 0; i < kComPrefix.size(); ++i) {
    const char c = name[i];
    const char upper = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    if (upper != kComPrefix[i]) return false;
  }
  const int number = name.back() - '0';
  if (number < 1 || number > kPortCount) return false;
  portIndex = number - 1;
  return true;
}

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
