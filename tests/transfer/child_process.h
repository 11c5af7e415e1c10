// Child programs for the interoperation tests: lrzsz and the zephor command line, started on
// given descriptors and reaped within a limit so a hung peer cannot hang the suite.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace zephor::transfer {

// Descriptors the child gets as standard input, output and error; -1 gives /dev/null.
struct ChildIo {
  int in = -1;
  int out = -1;
  int err = -1;
};

// Starts program with args in dir; returns its process id, or -1 when fork failed.
pid_t StartChild(const std::string& program, const std::vector<std::string>& args,
                 const std::filesystem::path& dir, ChildIo io);

// The child's exit code; -1 when it was killed after limitMs or ended by a signal.
int FinishChild(pid_t child, int limitMs);

// True once the child has ended; its exit code then goes to *exitCode (-1 for a signal).
bool ChildEnded(pid_t child, int* exitCode);

}  // namespace zephor::transfer
