// The POSIX half: sigaction without SA_RESTART, so that a blocking read of an answer on the
// terminal ends too.
#include <signal.h>

#include <cstddef>

#include "app/signal_stop.h"

namespace zephor::app {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kSignalExitBase = 128;

volatile sig_atomic_t g_caught = 0;
struct sigaction g_previous[sizeof kSignals / sizeof kSignals[0]];

extern "C" void OnStopSignal(int signal) {
  if (g_caught == 0) g_caught = signal;
}

}  // namespace

SignalStop::SignalStop() {
  g_caught = 0;
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
    sigaction(kSignals[i], &action, &g_previous[i]);
  }
}

SignalStop::~SignalStop() {
  for (std::size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
    sigaction(kSignals[i], &g_previous[i], nullptr);
  }
}

int SignalStop::Caught() { return g_caught; }

int SignalStop::ExitCode() { return g_caught != 0 ? kSignalExitBase + g_caught : 0; }

}  // namespace zephor::app
