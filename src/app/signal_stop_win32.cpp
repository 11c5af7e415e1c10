// The Windows half: a console control handler. Ctrl-C counts as an interrupt, Ctrl-Break as a
// terminate and the console's closing as a hang-up, so that scripts see the codes they see on
// Linux (130, 143, 129).
#include <windows.h>

#include <atomic>

#include "app/signal_stop.h"

namespace zephor::app {
namespace {

constexpr int kInterrupt = 2;
constexpr int kHangUp = 1;
constexpr int kTerminate = 15;
constexpr int kSignalExitBase = 128;

std::atomic<int> g_caught{0};

BOOL WINAPI OnConsoleControl(DWORD event) {
  int signal = 0;
  switch (event) {
    case CTRL_C_EVENT:
      signal = kInterrupt;
      break;
    case CTRL_BREAK_EVENT:
      signal = kTerminate;
      break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      signal = kHangUp;
      break;
    default:
      return FALSE;
  }
  int none = 0;
  g_caught.compare_exchange_strong(none, signal);
  return TRUE;
}

}  // namespace

SignalStop::SignalStop() {
  g_caught = 0;
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

SignalStop::~SignalStop() { SetConsoleCtrlHandler(OnConsoleControl, FALSE); }

int SignalStop::Caught() { return g_caught.load(); }

int SignalStop::ExitCode() {
  const int caught = g_caught.load();
  return caught != 0 ? kSignalExitBase + caught : 0;
}

}  // namespace zephor::app
