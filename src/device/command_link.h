// The text conversation with the instrument: open, one command exchange, wait for READY, pause.
#pragma once

#include <string>
#include <string_view>

#include "serial/serial_port.h"

namespace zephor::device {

inline constexpr long kBaudRate = 9600;
inline constexpr char kParity = 'N';
inline constexpr int kDataBits = 8;
inline constexpr int kStopBits = 1;
inline constexpr int kLineFeed = 10;
inline constexpr int kReplyLimitMs = 500;
inline constexpr int kReplySize = 19;
inline constexpr int kReadyLimitMs = 15000;
inline constexpr int kReadySize = 10;

serial::SerialPort* OpenCommandPort(const serial::PortEnvironment& env, int portIndex);
std::string SendCommand(serial::SerialPort& port, std::string_view command, int terminator);
bool WaitReady(const serial::PortEnvironment& env, int portIndex);
void ShortPause();

}  // namespace zephor::device
