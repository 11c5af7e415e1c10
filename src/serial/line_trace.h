// A trace of the line for a service engineer: every byte with its direction, the milliseconds
// since the trace began, in hexadecimal and as text, and every open and close with its status.
// TracingPortFactory puts it between any factory and the code that opens ports.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "serial/serial_port.h"

namespace zephor::serial {

// Most bytes on one line of the trace; a line also ends after a line feed.
inline constexpr std::size_t kTraceBytesPerLine = 16;

class LineTrace {
 public:
  // clock gives milliseconds on the waits' tick counter.
  LineTrace(std::ostream& out, std::function<std::uint32_t()> clock);
  ~LineTrace();
  LineTrace(const LineTrace&) = delete;
  LineTrace& operator=(const LineTrace&) = delete;

  // One line of its own, such as an open and its status.
  void Note(const std::string& text);
  // Bytes that went out (sent) or came in.
  void Bytes(bool sent, const std::uint8_t* data, int n);

 private:
  void FlushBytes();
  std::string Stamp(std::uint32_t tick) const;

  std::ostream& out_;
  std::function<std::uint32_t()> clock_;
  std::uint32_t start_;
  std::vector<std::uint8_t> pending_;
  bool pendingSent_ = false;
  std::uint32_t pendingTick_ = 0;
};

// Opens through another factory and traces the port's traffic. portName names a port index for
// the trace's open lines.
class TracingPortFactory final : public PortFactory {
 public:
  TracingPortFactory(PortFactory& inner, LineTrace& trace,
                     std::function<std::string(int)> portName);
  int OpenDevice(SerialPort& port) override;

 private:
  PortFactory& inner_;
  LineTrace& trace_;
  std::function<std::string(int)> portName_;
};

}  // namespace zephor::serial
