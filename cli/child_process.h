// Programs the fleet runs, one per instrument: their standard output and error read line by line
// as they come, their standard input written, signals passed on. The POSIX half only: the fleet
// is not built on Windows.
#pragma once

#include <string>
#include <vector>

namespace zephor::cli {

// Lines from a descriptor, read as far as they are there: complete lines as they come, the rest
// at its end.
class LineReader {
 public:
  explicit LineReader(int fd = -1) : fd_(fd) {}
  int fd() const { return fd_; }
  bool atEnd() const { return atEnd_; }
  // Reads what is there now; appends the complete lines, without their line feeds.
  void Read(std::vector<std::string>& lines);

 private:
  int fd_;
  bool atEnd_ = false;
  std::string partial_;
};

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts program with args; false with why set when it cannot be started.
  bool Start(const std::string& program, const std::vector<std::string>& args, std::string& why);
  void WriteLine(const std::string& line);
  // The program reads the end of its input: a question it waits on is answered Cancel.
  void CloseInput();
  void Signal(int signal);
  // Reads what is there now from standard output and standard error.
  void Read(std::vector<std::string>& out, std::vector<std::string>& err);
  // True once the program ended and all it wrote was read; code is then its exit code, or
  // 128 and the signal's number when a signal ended it.
  bool Ended(int& code);
  bool started() const { return pid_ > 0; }

  // The descriptors to wait on.
  int outFd() const { return out_.atEnd() ? -1 : out_.fd(); }
  int errFd() const { return err_.atEnd() ? -1 : err_.fd(); }

 private:
  int pid_ = -1;
  int in_ = -1;
  LineReader out_;
  LineReader err_;
  bool reaped_ = false;
  int code_ = -1;
};

// Waits at most ms for any of the descriptors (-1 ones are left out) to have something to read,
// or for a signal.
void WaitForInput(const std::vector<int>& fds, int ms);

// The path of the running program, to start it again.
std::string OwnProgramPath();

// The columns of the terminal on standard error; 0 when unknown.
std::size_t TerminalColumns();

}  // namespace zephor::cli
