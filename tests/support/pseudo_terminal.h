// A pseudo-terminal whose slave side stands in for a COM port; the test holds the master.
#pragma once

#include <cstdint>
#include <string>

namespace zephor::serial {

class PseudoTerminal {
 public:
  PseudoTerminal();
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  bool ok() const { return master_ >= 0; }
  const std::string& slavePath() const { return slavePath_; }
  int master() const { return master_; }
  // Makes the slave the device of port index 0.
  void ServeAsCom1() const;
  // Writes all bytes to the slave's input.
  bool Send(const std::string& bytes) const;
  // Reads until n bytes came or waitMs passed without any.
  std::string Receive(std::size_t n, int waitMs) const;
  // Closes the master: the slave hangs up, as a line whose adapter is pulled out.
  void Hangup();

 private:
  int master_ = -1;
  std::string slavePath_;
};

}  // namespace zephor::serial
