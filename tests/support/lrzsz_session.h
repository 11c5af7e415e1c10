// One lrzsz program on a socketpair, relayed to a pseudo-terminal whose slave is the line of
// the side under test.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "process/child_process.h"
#include "pseudo_terminal.h"
#include "relay.h"

namespace zephor::transfer {

inline constexpr const char* kSx = "/usr/bin/sx";
inline constexpr const char* kRx = "/usr/bin/rx";
// How long lrzsz may take to end after the transfer, before it is killed.
inline constexpr int kChildWaitMs = 20000;

class LrzszSession {
 public:
  LrzszSession() = default;
  ~LrzszSession();
  LrzszSession(const LrzszSession&) = delete;
  LrzszSession& operator=(const LrzszSession&) = delete;

  // Starts program with args in dir, talking through the relay.
  bool Start(const char* program, const std::vector<std::string>& args,
             const std::filesystem::path& dir);
  // The device path the side under test opens.
  const std::string& slavePath() const { return pty_.slavePath(); }
  // The program's exit code, or -1 when it had to be killed.
  int Finish(int limitMs = kChildWaitMs);

 private:
  serial::PseudoTerminal pty_;
  int sock_ = -1;
  std::unique_ptr<process::ChildProcess> child_;
  std::unique_ptr<Relay> relay_;
};

}  // namespace zephor::transfer
