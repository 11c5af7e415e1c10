// POSIX termios driver: opens ZEPHOR_COM<n+1> when set, else /dev/ttyS<n>.
#pragma once

#include <string>

#include "serial/serial_port.h"

namespace zephor::serial {

// Device path for a port index: the environment variable ZEPHOR_COM<index+1>, else
// /dev/ttyS<index>.
std::string PosixDevicePath(int portIndex);

class PosixPortFactory final : public PortFactory {
 public:
  int OpenDevice(SerialPort& port) override;
};

}  // namespace zephor::serial
