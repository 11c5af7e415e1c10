// zephor-sim as a child process on a pseudo-terminal, for the end-to-end tests.
#pragma once

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "process/child_process.h"

namespace zephor::e2e {

// How long the simulator may take to say it is ready, and to end once told to.
inline constexpr int kSimReadyMs = 10000;
inline constexpr int kSimEndMs = 10000;

// zephor-sim, started with its options; it is stopped by its own process id. Its log of every
// command and load goes to logPath when one is given.
class SimChild {
 public:
  explicit SimChild(const std::vector<std::string>& args, const std::string& logPath = {}) {
    process::ChildSetup setup;
    setup.output = process::Stream::Pipe();
    if (!logPath.empty()) setup.error = process::Stream::AppendTo(logPath);
    std::string why;
    if (!child_.Start(ZEPHOR_SIM_PATH, args, setup, why)) return;
    // Its first line says where its line is.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSimReadyMs);
    std::vector<std::string> out, err;
    int code = 0;
    while (out.empty() && !child_.Ended(code) && std::chrono::steady_clock::now() < giveUp) {
      process::WaitForAny({&child_}, nullptr, kSimReadyMs);
      child_.Read(out, err);
    }
    if (!out.empty()) ready_ = out.front() + "\n";
  }
  ~SimChild() {
    child_.Signal(SIGTERM);
    child_.Finish(kSimEndMs);
  }
  SimChild(const SimChild&) = delete;
  SimChild& operator=(const SimChild&) = delete;
  const std::string& ready() const { return ready_; }

 private:
  process::ChildProcess child_;
  std::string ready_;
};

inline std::string ReadWhole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace zephor::e2e
