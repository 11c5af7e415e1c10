// fork and exec with three pipes; every descriptor of ours is closed on exec, so a child holds
// no other child's pipe and each pipe ends when its own child does.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/exit_codes.h"
#include "cli/child_process.h"

namespace zephor::cli {
namespace {

constexpr int kExecFailed = 127;
constexpr std::size_t kChunkBytes = 4096;

bool MakePipe(int fds[2]) { return pipe2(fds, O_CLOEXEC) == 0; }

void CloseIfOpen(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

}  // namespace

void LineReader::Read(std::vector<std::string>& lines) {
  if (fd_ < 0 || atEnd_) return;
  char chunk[kChunkBytes];
  for (;;) {
    // Only what is there: the terminal's input is read so too, and must not be made
    // non-blocking under the shell's feet.
    pollfd ready{fd_, POLLIN, 0};
    if (poll(&ready, 1, 0) <= 0) return;
    const ssize_t got = read(fd_, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {  // its end, or a descriptor that cannot be read: nothing more comes
      atEnd_ = true;
      if (!partial_.empty()) lines.push_back(std::move(partial_));
      partial_.clear();
      return;
    }
    partial_.append(chunk, static_cast<std::size_t>(got));
    for (std::size_t end = partial_.find('\n'); end != std::string::npos;
         end = partial_.find('\n')) {
      lines.push_back(partial_.substr(0, end));
      partial_.erase(0, end + 1);
    }
  }
}

ChildProcess::~ChildProcess() {
  CloseIfOpen(in_);
  int out = out_.fd();
  int err = err_.fd();
  CloseIfOpen(out);
  CloseIfOpen(err);
  // A child still running is reaped by the system once this program ends.
  if (pid_ > 0 && !reaped_) waitpid(pid_, nullptr, WNOHANG);
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args,
                         std::string& why) {
  int in[2], out[2], err[2];
  if (!MakePipe(in)) {
    why = std::strerror(errno);
    return false;
  }
  if (!MakePipe(out)) {
    why = std::strerror(errno);
    close(in[0]);
    close(in[1]);
    return false;
  }
  if (!MakePipe(err)) {
    why = std::strerror(errno);
    for (const int fd : {in[0], in[1], out[0], out[1]}) close(fd);
    return false;
  }
  std::vector<std::string> words{program};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    dup2(in[0], STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    execv(program.c_str(), argv.data());
    _exit(kExecFailed);
  }
  const int failure = errno;
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (pid_ < 0) {
    why = std::strerror(failure);
    for (const int fd : {in[1], out[0], err[0]}) close(fd);
    return false;
  }
  in_ = in[1];
  out_ = LineReader(out[0]);
  err_ = LineReader(err[0]);
  return true;
}

void ChildProcess::WriteLine(const std::string& line) {
  if (in_ < 0) return;
  const std::string text = line + "\n";
  // A child that is gone reads nothing more; SIGPIPE is ignored, the write just fails.
  if (write(in_, text.data(), text.size()) < 0) CloseInput();
}

void ChildProcess::CloseInput() { CloseIfOpen(in_); }

void ChildProcess::Signal(int signal) {
  if (pid_ > 0 && !reaped_) kill(pid_, signal);
}

void ChildProcess::Read(std::vector<std::string>& out, std::vector<std::string>& err) {
  out_.Read(out);
  err_.Read(err);
}

bool ChildProcess::Ended(int& code) {
  if (pid_ <= 0) return false;
  if (!reaped_) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
    reaped_ = true;
    code_ = WIFEXITED(status) ? WEXITSTATUS(status) : app::kExitSignalBase + WTERMSIG(status);
  }
  if (!out_.atEnd() || !err_.atEnd()) return false;
  code = code_;
  return true;
}

void WaitForInput(const std::vector<int>& fds, int ms) {
  std::vector<pollfd> polled;
  for (const int fd : fds) {
    if (fd >= 0) polled.push_back({fd, POLLIN, 0});
  }
  poll(polled.data(), polled.size(), ms);  // a signal ends it early, as it should
}

std::string OwnProgramPath() {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return {};
  return std::string(path, static_cast<std::size_t>(length));
}

std::size_t TerminalColumns() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

}  // namespace zephor::cli
