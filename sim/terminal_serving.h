// The simulated instrument on a pseudo-terminal, in real time, until a signal ends it.
#pragma once

#include "sim/sim_options.h"

namespace zephor::sim {

// Opens the terminal (and its link), prints "ready PATH" and serves the instrument the options
// describe until SIGTERM or SIGINT, or until its cable is pulled out. The program's exit code.
int ServeOnTerminal(const SimOptions& options);

}  // namespace zephor::sim
