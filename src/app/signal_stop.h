// Interrupt, terminate and hang-up, caught while a front end runs: a load in progress then stops at
// its next wait, through its clean-up, instead of the program dying with the instrument mid-load.
#pragma once

namespace zephor::app {

class SignalStop {
 public:
  // Catches the three signals until destroyed; what was there before is put back then.
  SignalStop();
  ~SignalStop();
  SignalStop(const SignalStop&) = delete;
  SignalStop& operator=(const SignalStop&) = delete;

  // The signal that came, or 0. A run whose fleet has ended (killed too) has caught a hang-up:
  // on Linux the system sends it SIGHUP, on Windows this looks at the fleet's process.
  static int Caught();
  // The code a shell gives a program ended by that signal: 128 and its number.
  static int ExitCode();
};

}  // namespace zephor::app
