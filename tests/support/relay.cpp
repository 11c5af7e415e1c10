// The relay thread: poll both ends, copy whatever arrives, until told to stop.
#include "relay.h"

#include <poll.h>
#include <unistd.h>

namespace zephor::transfer {
namespace {

constexpr int kPollMs = 10;
constexpr std::size_t kChunk = 512;

void Copy(int from, int to) {
  char buf[kChunk];
  const ssize_t n = read(from, buf, sizeof buf);
  for (ssize_t done = 0; n > 0 && done < n;) {
    const ssize_t w = write(to, buf + done, static_cast<std::size_t>(n - done));
    if (w > 0) done += w;
  }
}

}  // namespace

Relay::Relay(int master, int sock) : master_(master), sock_(sock), thread_([this] { Run(); }) {}

Relay::~Relay() {
  stop_ = true;
  thread_.join();
}

void Relay::Run() {
  while (!stop_) {
    pollfd fds[2] = {{master_, POLLIN, 0}, {sock_, POLLIN, 0}};
    if (poll(fds, 2, kPollMs) <= 0) continue;
    const bool readable = ((fds[0].revents | fds[1].revents) & POLLIN) != 0;
    if (fds[0].revents & POLLIN) Copy(master_, sock_);
    if (fds[1].revents & POLLIN) Copy(sock_, master_);
    // A master whose slave nobody holds reports a hang-up at once: wait instead of spinning.
    if (!readable) poll(nullptr, 0, kPollMs);
  }
}

}  // namespace zephor::transfer
