// Windows communications driver: opens "\\.\COM<n>" for overlapped I/O that never blocks.
#pragma once

#include <string>

#include "serial/serial_port.h"

namespace zephor::serial {

// Device name for a port index: index 0 is COM1.
std::string Win32DeviceName(int portIndex);

// Maps a system error (GetLastError, or a negative communication error code) to a port status.
int MapWin32Error(long error);

class Win32PortFactory final : public PortFactory {
 public:
  int OpenDevice(SerialPort& port) override;
};

}  // namespace zephor::serial
