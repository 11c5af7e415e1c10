// What the command line needs from the system it runs on: its serial driver and clock, how a
// port is named, whether standard error is a terminal. One half per system.
#pragma once

#include <memory>
#include <string>

#include "serial/serial_port.h"
#include "serial/timing.h"

namespace zephor::cli {

std::unique_ptr<serial::PortFactory> SystemPortFactory();
std::unique_ptr<serial::Timing> SystemClock();
// The device a port index opens: "/dev/ttyS0" or what ZEPHOR_COM1 names; "\\.\COM1".
std::string DeviceOfPort(int portIndex);
bool StandardErrorIsTerminal();
// Makes a device path stand in for COM1; false where the system cannot (Windows names its ports).
bool UseDeviceAsCom1(const std::string& path);

}  // namespace zephor::cli
