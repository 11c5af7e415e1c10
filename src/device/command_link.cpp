// Command link: every conversation opens the port anew, exchanges lines and closes it.
#include "device/command_link.h"

#include <cstring>

#include "serial/timed_io.h"

namespace zephor::device {

namespace {
constexpr int kShortPauseCount = 3200;
constexpr int kReadyBufferSize = 20;
constexpr char kReady[] = "READY";
}  // namespace

serial::SerialPort* OpenCommandPort(const serial::PortEnvironment& env, int portIndex) {
  serial::SerialPort* port =
      serial::OpenPort(env, portIndex, kBaudRate, kParity, kDataBits, kStopBits);
  port->ClearTxBuffer();
  serial::FlushRxBuffer(*port);
  return port;
}

std::string SendCommand(serial::SerialPort& port, std::string_view command, int terminator) {
  serial::WriteString(port, command, terminator);
  if (port.status < 0) return "ERROR";
  char reply[kReplySize] = {};
  serial::ReadString(port, reply, kReplySize, kLineFeed, kReplyLimitMs);
  if (port.status < 0) return "ERROR";
  serial::ReadChar(port, kReplyLimitMs);  // the prompt character after the reply, discarded
  return std::string(reply);
}

bool WaitReady(const serial::PortEnvironment& env, int portIndex) {
  serial::PortHandle port(OpenCommandPort(env, portIndex));
  std::uint8_t buffer[kReadyBufferSize] = {};
  serial::ReadBuffer(*port, buffer, kReadySize, kReadyLimitMs);
  const int received = port->count;
  port.Close();
  const std::size_t readyLength = std::strlen(kReady);
  return received >= static_cast<int>(readyLength) && std::memcmp(buffer, kReady, readyLength) == 0;
}

void ShortPause() {
  // A fixed busy count; it neither sleeps nor services the window.
  volatile int sink = 0;
  for (int i = 0; i <= kShortPauseCount; ++i) sink = i;
  static_cast<void>(sink);
}

}  // namespace zephor::device
