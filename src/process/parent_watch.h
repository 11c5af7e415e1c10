// Windows: a program started with stopWithParent finds its parent's process in its environment
// and asks whether it has ended (on Linux the system sends it SIGHUP instead).
#pragma once

namespace zephor::process {

// Holds "HANDLE:PROCESS ID": an inherited handle to the parent's process, and its id to prove
// the handle is that process's.
inline constexpr char kParentVariable[] = "ZEPHOR_PARENT_PROCESS";

// True once the program that started this one with stopWithParent has ended, however it ended.
bool ParentEnded();

}  // namespace zephor::process
