// The factory a program opens its ports through: the system's own, traced into a file when the
// command line (--trace FILE) or the environment (ZEPHOR_TRACE=FILE) asks for it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "files/disk.h"
#include "files/disk_output.h"
#include "serial/line_trace.h"
#include "serial/serial_port.h"

namespace zephor::app {

// The environment variable that asks the windows for a trace.
inline constexpr char kTraceVariable[] = "ZEPHOR_TRACE";

class TracedPorts {
 public:
  // With an empty path the system's factory is used as it is. portName names a port index in
  // the trace; the trace file is written on disk.
  TracedPorts(serial::PortFactory& system, std::function<std::uint32_t()> clock,
              const std::string& path, std::function<std::string(int)> portName = {},
              files::Disk& disk = files::SystemDisk());
  // A port still open when the trace ends is closed first: its driver writes to the trace.
  ~TracedPorts();
  TracedPorts(const TracedPorts&) = delete;
  TracedPorts& operator=(const TracedPorts&) = delete;

  serial::PortFactory* factory() { return traced_ ? traced_.get() : &system_; }
  // Empty unless the trace file could not be written; then it says which and why.
  const std::string& failure() const { return failure_; }

 private:
  serial::PortFactory& system_;
  files::DiskOutput file_;
  std::unique_ptr<serial::LineTrace> trace_;
  std::unique_ptr<serial::TracingPortFactory> traced_;
  std::string failure_;
};

// The trace file the environment names, or empty.
std::string TraceFileFromEnvironment();

}  // namespace zephor::app
