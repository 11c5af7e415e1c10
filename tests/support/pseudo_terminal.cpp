// A pseudo-terminal pair for driver tests on a machine without serial hardware.
#include "pseudo_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace zephor::serial {

PseudoTerminal::PseudoTerminal() {
  const int fd = posix_openpt(O_RDWR | O_NOCTTY);
  if (fd < 0) return;
  const char* name = nullptr;
  if (grantpt(fd) != 0 || unlockpt(fd) != 0 || (name = ptsname(fd)) == nullptr) {
    close(fd);
    return;
  }
  slavePath_ = name;
  master_ = fd;
}

PseudoTerminal::~PseudoTerminal() { Hangup(); }

void PseudoTerminal::Hangup() {
  if (master_ >= 0) close(master_);
  master_ = -1;
}

void PseudoTerminal::ServeAsCom1() const { setenv("ZEPHOR_COM1", slavePath_.c_str(), 1); }

bool PseudoTerminal::Send(const std::string& bytes) const {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::string PseudoTerminal::Receive(std::size_t n, int waitMs) const {
  std::string got;
  char chunk[4096];
  while (got.size() < n) {
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, waitMs) <= 0 || (p.revents & POLLIN) == 0) break;
    const std::size_t want = std::min(sizeof chunk, n - got.size());
    const ssize_t r = read(master_, chunk, want);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got.append(chunk, static_cast<std::size_t>(r));
  }
  return got;
}

}  // namespace zephor::serial
