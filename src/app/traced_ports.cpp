#include "app/traced_ports.h"

#include <cstdlib>
#include <utility>

namespace zephor::app {
namespace {
constexpr const char* kTraceHeading =
    "ZEPHOR line trace: ms since the start, > to the instrument, < from it\n";
}  // namespace

TracedPorts::TracedPorts(serial::PortFactory& system, std::function<std::uint32_t()> clock,
                         const std::string& path, std::function<std::string(int)> portName,
                         files::Disk& disk)
    : system_(system) {
  if (path.empty()) return;
  // The heading goes to the disk at once: a file that opens but cannot take a byte (a full disk,
  // /dev/full) is found before the run, not after it.
  if (file_.Open(disk, path)) file_ << kTraceHeading << std::flush;
  if (!file_) {
    failure_ = "cannot write the trace " + path + ": " + file_.why();
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
