// The working folder of zephor-update.exe: the folder its command line names, or the one it asks
// for with --choose-folder (as the Start-menu entry starts it).
#pragma once

#include <optional>

namespace zephor::win32 {

// Moves to the folder the command line asks for. Returns the code the program ends with when it
// ends here: 0 for --help or a Cancel, 2 for bad usage or a folder it cannot enter (each said in a
// message box); nothing when the window goes on.
std::optional<int> EnterWorkingFolder();

}  // namespace zephor::win32
