// Standard input is read only as far as it holds something: a terminal's input must not be made
// non-blocking under the shell's feet.
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "process/line_splitter.h"
#include "process/own_input.h"

namespace zephor::process {
namespace {
constexpr std::size_t kInputChunkBytes = 4096;
}  // namespace

struct OwnInput::System {
  bool atEnd = false;
  LineSplitter splitter;
};

OwnInput::OwnInput() : system_(std::make_unique<System>()) {}

OwnInput::~OwnInput() = default;

void OwnInput::Read(std::vector<std::string>& lines) {
  char chunk[kInputChunkBytes];
  while (!system_->atEnd) {
    pollfd ready{STDIN_FILENO, POLLIN, 0};
    if (poll(&ready, 1, 0) <= 0) return;
    const ssize_t got = read(STDIN_FILENO, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {  // its end, or an input that cannot be read: no answer comes from it
      system_->atEnd = true;
      system_->splitter.End(lines);
      return;
    }
    system_->splitter.Take(chunk, static_cast<std::size_t>(got), lines);
  }
}

bool OwnInput::atEnd() const { return system_->atEnd; }

bool OwnInput::Ready() {
  pollfd ready{STDIN_FILENO, POLLIN, 0};
  return !system_->atEnd && poll(&ready, 1, 0) > 0;
}

bool OwnInput::echoed() const { return isatty(STDIN_FILENO) != 0; }

}  // namespace zephor::process
