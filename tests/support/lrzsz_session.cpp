// Starting lrzsz behind the relay and tearing the session down in order.
#include "lrzsz_session.h"

#include <sys/socket.h>
#include <unistd.h>

namespace zephor::transfer {

LrzszSession::~LrzszSession() { Finish(); }

bool LrzszSession::Start(const char* program, const std::vector<std::string>& args,
                         const std::filesystem::path& dir) {
  if (!pty_.ok()) return false;
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) return false;
  child_ = std::make_unique<process::ChildProcess>();
  std::string why;
  const bool started =
      child_->Start(program, args, process::ChildSetup::Lending(dir, sv[1], sv[1], -1), why);
  close(sv[1]);
  sock_ = sv[0];
  if (!started) return false;
  relay_ = std::make_unique<Relay>(pty_.master(), sock_);
  return true;
}

int LrzszSession::Finish(int limitMs) {
  if (child_ == nullptr && sock_ < 0) return -1;
  const int code = child_ != nullptr && child_->started() ? child_->Finish(limitMs) : -1;
  child_.reset();
  relay_.reset();
  if (sock_ >= 0) close(sock_);
  sock_ = -1;
  return code;
}

}  // namespace zephor::transfer
