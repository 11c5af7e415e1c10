// fork and exec. Every descriptor of ours is closed in the child but the three it is given, so a
// child holds no other child's pipe and each pipe ends when its own child does.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

#include "process/child_process.h"
#include "process/line_splitter.h"
#include "process/own_input.h"

namespace zephor::process {
namespace {

constexpr std::size_t kPipeChunkBytes = 4096;
constexpr int kSignalExitBase = 128;
// How often Finish looks whether a child without pipes has ended.
constexpr int kFinishPollMs = 5;
constexpr int kFirstUnlentDescriptor = STDERR_FILENO + 1;

void CloseIfOpen(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// A descriptor of ours that is read as far as it holds something, without waiting.
struct PipeReader {
  int fd = -1;
  bool atEnd = true;
  LineSplitter splitter;
  std::vector<std::string> kept;  // lines read while Finish waited

  void Open(int descriptor) {
    fd = descriptor;
    atEnd = false;
  }
  // The lines kept, then what is there now.
  void Read(std::vector<std::string>& lines) {
    lines.insert(lines.end(), kept.begin(), kept.end());
    kept.clear();
    Pull(lines);
  }
  void Pull(std::vector<std::string>& lines) {
    char chunk[kPipeChunkBytes];
    while (!atEnd) {
      pollfd ready{fd, POLLIN, 0};
      if (poll(&ready, 1, 0) <= 0) return;
      const ssize_t got = read(fd, chunk, sizeof chunk);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {  // its end, or a descriptor that cannot be read: nothing more comes
        atEnd = true;
        splitter.End(lines);
        CloseIfOpen(fd);
        return;
      }
      splitter.Take(chunk, static_cast<std::size_t>(got), lines);
    }
  }
};

// The descriptors one standard stream of the child needs: its own end and ours.
struct StreamEnds {
  int child = -1;
  int ours = -1;
  bool childEndIsOurs = true;  // closed here once the child has it
};

bool OpenStream(const Stream& stream, bool input, StreamEnds& ends, std::string& why) {
  switch (stream.kind) {
    case Stream::Kind::kNull:
      ends.child = open("/dev/null", O_RDWR | O_CLOEXEC);
      break;
    case Stream::Kind::kPipe: {
      int fds[2];
      if (pipe2(fds, O_CLOEXEC) != 0) break;
      ends.child = input ? fds[0] : fds[1];
      ends.ours = input ? fds[1] : fds[0];
      break;
    }
    case Stream::Kind::kLent:
      ends.child = static_cast<int>(stream.lent);
      ends.childEndIsOurs = false;
      break;
    case Stream::Kind::kFile:
      ends.child = open(stream.file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
      break;
  }
  if (ends.child >= 0) return true;
  why = std::strerror(errno);
  return false;
}

// In the forked child: only calls that are safe between fork and exec.
[[noreturn]] void BecomeProgram(const char* program, char* const* argv, const char* folder,
                                const std::array<StreamEnds, 3>& ends, pid_t parent,
                                bool stopWithParent) {
  if (stopWithParent) {
    // Told as by a hang-up when the parent ends; a parent gone already is not waited for.
    prctl(PR_SET_PDEATHSIG, SIGHUP);
    if (getppid() != parent) _exit(kCannotExecute);
  }
  // Each end first above the standard three, so that putting one in place never overwrites
  // another (a program started with a standard descriptor closed gets such numbers for its files).
  int above[3];
  for (std::size_t i = 0; i < ends.size(); ++i) {
    above[i] = ends[i].child >= kFirstUnlentDescriptor
                   ? ends[i].child
                   : fcntl(ends[i].child, F_DUPFD_CLOEXEC, kFirstUnlentDescriptor);
  }
  for (int target = 0; target < 3; ++target) dup2(above[target], target);
  if (close_range(kFirstUnlentDescriptor, UINT_MAX, 0) != 0) {
    for (int fd = kFirstUnlentDescriptor; fd < 1024; ++fd) close(fd);
  }
  if (folder[0] != '\0' && chdir(folder) != 0) _exit(kCannotExecute);
  execv(program, argv);
  _exit(kCannotExecute);
}

}  // namespace

struct ChildProcess::System {
  pid_t pid = -1;
  int input = -1;
  PipeReader out;
  PipeReader err;
  bool reaped = false;
  int code = -1;

  bool Reap() {
    if (reaped || pid <= 0) return reaped;
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) != pid) return false;
    reaped = true;
    code = WIFEXITED(status) ? WEXITSTATUS(status) : kSignalExitBase + WTERMSIG(status);
    return true;
  }
};

ChildProcess::ChildProcess() : system_(std::make_unique<System>()) {}

ChildProcess::~ChildProcess() {
  CloseIfOpen(system_->input);
  CloseIfOpen(system_->out.fd);
  CloseIfOpen(system_->err.fd);
  // A child that ended is reaped; one still running is reaped by the system once this program
  // ends.
  system_->Reap();
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args,
                         const ChildSetup& setup, std::string& why) {
  if (started()) {
    why = "already started";
    return false;
  }
  std::array<StreamEnds, 3> ends;
  const Stream* streams[] = {&setup.input, &setup.output, &setup.error};
  bool opened = true;
  for (std::size_t i = 0; i < ends.size() && opened; ++i) {
    opened = OpenStream(*streams[i], i == 0, ends[i], why);
  }
  const auto closeChildEnds = [&ends] {
    for (StreamEnds& end : ends) {
      if (end.childEndIsOurs) CloseIfOpen(end.child);
    }
  };
  if (!opened) {
    closeChildEnds();
    for (StreamEnds& end : ends) CloseIfOpen(end.ours);
    return false;
  }
  // Everything the child needs is made before the fork: after it, only the calls exec allows.
  std::vector<std::string> words{program};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const std::string folder = setup.folder.string();
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    BecomeProgram(program.c_str(), argv.data(), folder.c_str(), ends, parent, setup.stopWithParent);
  }
  const int failure = errno;
  closeChildEnds();
  if (pid < 0) {
    why = std::strerror(failure);
    for (StreamEnds& end : ends) CloseIfOpen(end.ours);
    return false;
  }
  system_->pid = pid;
  system_->input = ends[0].ours;
  if (ends[1].ours >= 0) system_->out.Open(ends[1].ours);
  if (ends[2].ours >= 0) system_->err.Open(ends[2].ours);
  return true;
}

bool ChildProcess::started() const { return system_->pid > 0; }

long ChildProcess::id() const { return started() ? system_->pid : 0; }

void ChildProcess::WriteLine(const std::string& line) {
  if (system_->input < 0) return;
  const std::string text = line + "\n";
  // A child that is gone reads nothing more; the program that writes to its children ignores
  // SIGPIPE, so the write just fails.
  if (write(system_->input, text.data(), text.size()) < 0) CloseInput();
}

void ChildProcess::CloseInput() { CloseIfOpen(system_->input); }

void ChildProcess::Signal(int signal) {
  if (started() && !system_->Reap()) kill(system_->pid, signal);
}

void ChildProcess::Read(std::vector<std::string>& out, std::vector<std::string>& err) {
  system_->out.Read(out);
  system_->err.Read(err);
}

bool ChildProcess::Ended(int& code) {
  if (!started() || !system_->Reap()) return false;
  if (!system_->out.atEnd || !system_->err.atEnd) return false;
  code = system_->code;
  return true;
}

int ChildProcess::Finish(int limitMs) {
  if (!started()) return -1;
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  int code = -1;
  while (!Ended(code)) {
    if (std::chrono::steady_clock::now() > giveUp) {
      kill(system_->pid, SIGKILL);
      waitpid(system_->pid, nullptr, 0);
      system_->reaped = true;
      system_->code = -1;
      return -1;
    }
    system_->out.Pull(system_->out.kept);
    system_->err.Pull(system_->err.kept);
    WaitForAny({this}, nullptr, kFinishPollMs);
  }
  return code;
}

void WaitForAny(const std::vector<ChildProcess*>& children, OwnInput* input, int ms) {
  std::vector<pollfd> polled;
  for (const ChildProcess* child : children) {
    for (const PipeReader* reader : {&child->system_->out, &child->system_->err}) {
      if (!reader->atEnd) polled.push_back({reader->fd, POLLIN, 0});
    }
  }
  if (input != nullptr && !input->atEnd()) polled.push_back({STDIN_FILENO, POLLIN, 0});
  // A child's end shows as the end of its pipes; one without pipes is looked at after ms. A
  // signal ends the wait early, as it should.
  poll(polled.data(), polled.size(), ms);
}

std::string OwnProgramPath() {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return {};
  return std::string(path, static_cast<std::size_t>(length));
}

}  // namespace zephor::process
