#include "app/traced_ports.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace zephor::app {

TracedPorts::TracedPorts(serial::PortFactory& system, std::function<std::uint32_t()> clock,
                         const std::string& path, std::function<std::string(int)> portName)
    : system_(system) {
  if (path.empty()) return;
  file_.open(path, std::ios::out | std::ios::trunc);
  if (!file_) {
    failure_ = "cannot write the trace " + path + ": " + std::strerror(errno);
    return;
  }
  trace_ = std::make_unique<serial::LineTrace>(file_, std::move(clock));
  traced_ = std::make_unique<serial::TracingPortFactory>(system_, *trace_, std::move(portName));
}

TracedPorts::~TracedPorts() {
  if (traced_) serial::CloseAllPorts();
}

std::string TraceFileFromEnvironment() {
  const char* value = std::getenv(kTraceVariable);
  return value != nullptr ? value : "";
}

}  // namespace zephor::app
