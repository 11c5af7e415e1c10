// zephor-sim as a child process on a pseudo-terminal, for the end-to-end tests.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace zephor::e2e {

inline constexpr int kHighestInheritedFd = 1024;

// zephor-sim, started with its options; it is stopped by its own process id. Its log of every
// command and load goes to logPath when one is given.
class SimChild {
 public:
  explicit SimChild(const std::vector<std::string>& args, const std::string& logPath = {}) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      const int logFd = logPath.empty()
                            ? open("/dev/null", O_WRONLY)
                            : open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      if (logFd >= 0) dup2(logFd, STDERR_FILENO);
      // Only the three standard descriptors go to the simulator, so another session's pipe or
      // terminal started at the same moment does not stay open in it.
      for (int fd = STDERR_FILENO + 1; fd < kHighestInheritedFd; ++fd) close(fd);
      std::vector<char*> argv{const_cast<char*>(ZEPHOR_SIM_PATH)};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(ZEPHOR_SIM_PATH, argv.data());
      _exit(127);
    }
    close(out[1]);
    FILE* from = fdopen(out[0], "r");
    char line[512] = {};
    if (from != nullptr && std::fgets(line, sizeof line, from) != nullptr) ready_ = line;
    if (from != nullptr) std::fclose(from);
  }
  ~SimChild() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  const std::string& ready() const { return ready_; }

 private:
  pid_t pid_ = -1;
  std::string ready_;
};

inline std::string ReadWhole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace zephor::e2e
