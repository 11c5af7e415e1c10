// Fork and exec with chosen descriptors; reaping with a deadline.
#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace zephor::transfer {
namespace {

constexpr int kExecFailed = 127;
constexpr int kReapPollMs = 5;

int ExitCodeOf(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

}  // namespace

pid_t StartChild(const std::string& program, const std::vector<std::string>& args,
                 const std::filesystem::path& dir, ChildIo io) {
  std::vector<std::string> words{program};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  const pid_t child = fork();
  if (child != 0) return child;
  const int null = open("/dev/null", O_RDWR);
  dup2(io.in >= 0 ? io.in : null, STDIN_FILENO);
  dup2(io.out >= 0 ? io.out : null, STDOUT_FILENO);
  dup2(io.err >= 0 ? io.err : null, STDERR_FILENO);
  // Only the three standard descriptors go to the program.
  for (int fd = STDERR_FILENO + 1; fd < 1024; ++fd) close(fd);
  if (chdir(dir.c_str()) == 0) execv(program.c_str(), argv.data());
  _exit(kExecFailed);
}

bool ChildEnded(pid_t child, int* exitCode) {
  int status = 0;
  if (waitpid(child, &status, WNOHANG) != child) return false;
  if (exitCode != nullptr) *exitCode = ExitCodeOf(status);
  return true;
}

int FinishChild(pid_t child, int limitMs) {
  if (child <= 0) return -1;
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  int code = -1;
  while (!ChildEnded(child, &code)) {
    if (std::chrono::steady_clock::now() > until) {
      kill(child, SIGKILL);
      waitpid(child, nullptr, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kReapPollMs));
  }
  return code;
}

}  // namespace zephor::transfer
