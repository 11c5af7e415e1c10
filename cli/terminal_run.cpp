#include "cli/terminal_run.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>

#include "app/open_failure_report.h"
#include "app/port_choice.h"
#include "app/signal_stop.h"
#include "serial/port_discovery.h"
#include "serial/posix_driver.h"
#include "serial/system_timing.h"
#include "update/database_restore.h"
#include "update/measurement_backup.h"

namespace zephor::cli {
bool ResolvePort(const std::string& portName, int& portIndex) {
  if (app::PortIndexForName(portName, serial::FindPorts(), portIndex)) return true;
  std::cerr << "cannot use port " << portName << ": give " << kPortHelp << "\n";
  return false;
}

app::ConsoleAnswer EraseAnywayAnswer(app::ConsoleAnswer answer, bool eraseWithoutBackup) {
  if (eraseWithoutBackup) return app::ConsoleAnswer::kOk;
  return answer == app::ConsoleAnswer::kAsk ? app::ConsoleAnswer::kAsk
                                            : app::ConsoleAnswer::kCancel;
}

int RunOnTerminalWithCode(const std::string& portName, app::ConsoleAnswer answer,
                          const std::function<int(app::Updater&)>& operation,
                          const CarefulAnswers& careful) {
  int portIndex = 0;
  if (!ResolvePort(portName, portIndex)) return kExitBadPort;
  const app::SignalStop signals;
  serial::PosixPortFactory system;
  app::OpenFailureReport factory(system, std::cerr);
  app::Updater* running = nullptr;
  // The waits pump here: a signal stops the operation as a closed window would.
  serial::SystemTiming timing([&running] {
    if (running != nullptr && app::SignalStop::Caught() != 0) running->StopForSignal();
  });
  app::ConsoleView view(std::cout, std::cerr, std::cin, answer);
  view.AnswerFor(update::kEraseAnywayQuestion, careful.eraseAnyway);
  // The question comes after each minute of waiting: OK until the minutes are up.
  view.AnswerFor(update::kKeepWaitingQuestion, answer, std::max(careful.readyMinutes - 1, 0));
  app::Updater updater(view, &factory, &timing, nullptr);
  running = &updater;
  updater.station().portIndex = portIndex;
  int code = EXIT_FAILURE;
  updater.RunOperation([&] { code = operation(updater); });
  if (app::SignalStop::Caught() != 0) {
    std::cerr << "stopped by signal " << app::SignalStop::Caught() << "\n";
    return app::SignalStop::ExitCode();
  }
  if (view.exitRequested()) return view.exitCode();
  return code;
}

int RunOnTerminal(const std::string& portName, app::ConsoleAnswer answer,
                  const std::function<bool(app::Updater&)>& operation) {
  return RunOnTerminalWithCode(portName, answer, [&operation](app::Updater& updater) {
    return operation(updater) ? EXIT_SUCCESS : EXIT_FAILURE;
  });
}

}  // namespace zephor::cli
