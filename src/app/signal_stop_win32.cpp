// The Windows half: a console control handler. Ctrl-C counts as an interrupt, Ctrl-Break as a
// terminate and the console's closing as a hang-up, so that scripts see the codes they see on
// Linux (130, 143, 129). A run started by a fleet also stops as on a hang-up once the fleet's
// process has ended, however it ended (ended from the task manager too).
#include <windows.h>

#include <atomic>

#include "app/signal_stop.h"
#include "process/parent_watch.h"

namespace zephor::app {
namespace {

constexpr int kInterrupt = 2;
constexpr int kHangUp = 1;
constexpr int kTerminate = 15;
constexpr int kSignalExitBase = 128;
// Windows ends a program five seconds after its console closed, and as soon as the handler
// returns: the handler waits this long at most for the run's clean-up.
constexpr DWORD kCloseGraceMs = 4500;

std::atomic<int> g_caught{0};

// Set once the program is through with what a stop asks of it.
HANDLE Finished() {
  static const HANDLE finished = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  return finished;
}

void Catch(int signal) {
  int none = 0;
  g_caught.compare_exchange_strong(none, signal);
}

BOOL WINAPI OnConsoleControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
      Catch(kInterrupt);
      return TRUE;
    case CTRL_BREAK_EVENT:
      Catch(kTerminate);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      Catch(kHangUp);
      if (Finished() != nullptr) WaitForSingleObject(Finished(), kCloseGraceMs);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

SignalStop::SignalStop() {
  g_caught = 0;
  if (Finished() != nullptr) ResetEvent(Finished());
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

SignalStop::~SignalStop() {
  if (Finished() != nullptr) SetEvent(Finished());
  SetConsoleCtrlHandler(OnConsoleControl, FALSE);
}

int SignalStop::Caught() {
  if (g_caught.load() == 0 && process::ParentEnded()) Catch(kHangUp);
  return g_caught.load();
}

int SignalStop::ExitCode() {
  const int caught = Caught();
  return caught != 0 ? kSignalExitBase + caught : 0;
}

}  // namespace zephor::app
