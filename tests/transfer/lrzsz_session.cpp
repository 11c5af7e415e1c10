// Starting lrzsz behind the relay and tearing the session down in order.
#include "lrzsz_session.h"

#include <sys/socket.h>
#include <unistd.h>

#include "child_process.h"

namespace zephor::transfer {

LrzszSession::~LrzszSession() { Finish(); }

bool LrzszSession::Start(const char* program, const std::vector<std::string>& args,
                         const std::filesystem::path& dir) {
  if (!pty_.ok()) return false;
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) return false;
  child_ = StartChild(program, args, dir, ChildIo{sv[1], sv[1], -1});
  close(sv[1]);
  sock_ = sv[0];
  if (child_ < 0) return false;
  relay_ = std::make_unique<Relay>(pty_.master(), sock_);
  return true;
}

int LrzszSession::Finish(int limitMs) {
  if (child_ < 0 && sock_ < 0) return -1;
  const int code = child_ > 0 ? FinishChild(child_, limitMs) : -1;
  child_ = -1;
  relay_.reset();
  if (sock_ >= 0) close(sock_);
  sock_ = -1;
  return code;
}

}  // namespace zephor::transfer
