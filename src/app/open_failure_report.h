// A port factory that says, on a stream, which device a failed open tried and why; the command
// line's operations open their ports through it.
#pragma once

#include <ostream>

#include "app/port_choice.h"
#include "serial/serial_port.h"

namespace zephor::app {

class OpenFailureReport final : public serial::PortFactory {
 public:
  OpenFailureReport(serial::PortFactory& system, std::ostream& out) : system_(system), out_(out) {}

  int OpenDevice(serial::SerialPort& port) override {
    const int rc = system_.OpenDevice(port);
    // A wait that opens again and again says it once, until the reason changes.
    if (rc != serial::kOk &&
        (rc != lastStatus_ || port.refusal != lastRefusal_ || port.portIndex != lastIndex_)) {
      out_ << DescribeOpenFailure(port.portIndex, rc, port.refusal) << "\n";
      out_.flush();
    }
    lastStatus_ = rc;
    lastRefusal_ = port.refusal;
    lastIndex_ = port.portIndex;
    return rc;
  }

 private:
  serial::PortFactory& system_;
  std::ostream& out_;
  int lastStatus_ = serial::kOk;
  serial::OpenRefusal lastRefusal_ = serial::OpenRefusal::kNotTold;
  int lastIndex_ = -1;
};

}  // namespace zephor::app
