// Programs started as child processes: the fleet's runs, and the programs the tests start. Each
// standard stream of the child is a pipe to this program, the null device, a file written at its
// end, or a descriptor of ours lent to it. One interface; one half per system.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace zephor::process {

class OwnInput;

// Where one of the child's standard streams goes.
struct Stream {
  enum class Kind { kNull, kPipe, kLent, kFile };
  Kind kind = Kind::kNull;
  std::intptr_t lent = -1;     // kLent: a descriptor of ours (a HANDLE on Windows), kept ours
  std::filesystem::path file;  // kFile: output written at the file's end, made when missing

  static Stream Null() { return {}; }
  static Stream Pipe() { return {Kind::kPipe, -1, {}}; }
  static Stream Lent(std::intptr_t descriptor) { return {Kind::kLent, descriptor, {}}; }
  static Stream AppendTo(std::filesystem::path file) { return {Kind::kFile, -1, std::move(file)}; }
};

struct ChildSetup {
  std::filesystem::path folder;  // where the program runs; empty: where this one does
  Stream input;
  Stream output;
  Stream error;
  // The program is told to stop, as by a hang-up, when this one ends however it ends (killed
  // too): on Linux the system sends it SIGHUP; on Windows it watches this program's process.
  bool stopWithParent = false;

  // Runs in folder on descriptors of ours (a terminal, a socket, a file); -1 gives the null
  // device.
  static ChildSetup Lending(std::filesystem::path folder, std::intptr_t input, std::intptr_t output,
                            std::intptr_t error) {
    const auto lent = [](std::intptr_t descriptor) {
      return descriptor == -1 ? Stream::Null() : Stream::Lent(descriptor);
    };
    return {std::move(folder), lent(input), lent(output), lent(error), false};
  }
};

// The exit code of a program that could not be started after the fork (no such program, a
// folder it cannot enter).
inline constexpr int kCannotExecute = 127;

class ChildProcess {
 public:
  ChildProcess();
  // The pipes are closed; a program still running goes on unwatched.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts program with args; false with why when it cannot be started.
  bool Start(const std::string& program, const std::vector<std::string>& args,
             const ChildSetup& setup, std::string& why);
  bool started() const;
  // Its process id; 0 before it was started.
  long id() const;

  // A line on its piped input; nothing once it reads no more.
  void WriteLine(const std::string& line);
  // It reads the end of its input.
  void CloseInput();
  // Sends it a signal by its POSIX number (interrupt 2, terminate 15, hang-up 1, kill 9). On
  // Windows the console gives its Ctrl-C, Ctrl-Break and closing to every program attached to it,
  // the children too, so only a kill is sent there: it ends the program without its clean-up.
  void Signal(int signal);

  // The complete lines its piped output and error hold now, without their line feeds; what
  // follows the last line feed comes at the stream's end.
  void Read(std::vector<std::string>& out, std::vector<std::string>& err);
  // True once it ended and all it wrote on its pipes was read; code is then its exit code, or 128
  // and the number of the signal that ended it.
  bool Ended(int& code);
  // Waits at most limitMs for its end, keeping what it writes for Read; its code as Ended gives
  // it, or -1 when it had to be killed at the limit.
  int Finish(int limitMs);

  // The system's part: descriptors or handles.
  struct System;

 private:
  friend void WaitForAny(const std::vector<ChildProcess*>&, OwnInput*, int);
  std::unique_ptr<System> system_;
};

// Waits at most ms until one of the children has something to read or has ended, a line can be
// read from input (when given), or a signal comes.
void WaitForAny(const std::vector<ChildProcess*>& children, OwnInput* input, int ms);

// The path of the running program, to start it again; empty when the system cannot tell.
std::string OwnProgramPath();

}  // namespace zephor::process
