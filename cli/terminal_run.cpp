#include "cli/terminal_run.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>

#include <CLI/CLI.hpp>

#include <unistd.h>

#include "app/progress_line.h"
#include "app/signal_stop.h"
#include "serial/posix_driver.h"
#include "serial/system_timing.h"
#include "update/database_restore.h"
#include "update/measurement_backup.h"

namespace zephor::cli {
namespace {
// The variable the POSIX driver reads for the device of COM1.
constexpr char kCom1Variable[] = "ZEPHOR_COM1";

// The file --trace named for this run; one subcommand runs per program.
std::string& TracePath() {
  static std::string path;
  return path;
}
}  // namespace

std::string PortLabel(int portIndex) {
  return "COM" + std::to_string(portIndex + 1) + " (" + serial::PosixDevicePath(portIndex) + ")";
}

void AddTraceOption(CLI::App& command) {
  command.add_option("--trace", TracePath(),
                     "Write every byte on the line, and every open and close, to this file");
}

TerminalPorts::TerminalPorts(serial::Timing& timing)
    : traced_(system_, [&timing] { return timing.TickMs(); }, TracePath(), PortLabel) {}

bool TerminalPorts::Ready() const {
  if (traced_.failure().empty()) return true;
  std::cerr << traced_.failure() << "\n";
  return false;
}

bool ResolvePort(const std::string& portName, int& portIndex) {
  if (app::PortIndexFromName(portName, portIndex)) return true;
  portIndex = 0;
  if (setenv(kCom1Variable, portName.c_str(), 1) == 0) return true;
  std::cerr << "cannot use port " << portName << "\n";
  return false;
}

app::ConsoleAnswer EraseAnywayAnswer(app::ConsoleAnswer answer, bool eraseWithoutBackup) {
  if (eraseWithoutBackup) return app::ConsoleAnswer::kOk;
  return answer == app::ConsoleAnswer::kAsk ? app::ConsoleAnswer::kAsk
                                            : app::ConsoleAnswer::kCancel;
}

int RunOnTerminalWithCode(const std::string& portName, app::ConsoleAnswer answer,
                          const std::function<int(app::Updater&)>& operation,
                          const RunChoices& choices) {
  int portIndex = 0;
  if (!ResolvePort(portName, portIndex)) return kExitBadUsage;
  const app::SignalStop signals;
  app::Updater* running = nullptr;
  app::ProgressLine* progress = nullptr;
  // The waits pump here: a signal stops the operation as a closed window would, and the live
  // line counts down.
  serial::SystemTiming timing([&running, &progress] {
    if (running != nullptr && app::SignalStop::Caught() != 0) running->StopForSignal();
    if (progress != nullptr) progress->Tick();
  });
  app::ProgressLine line(std::cerr, isatty(STDERR_FILENO) != 0,
                         [&timing] { return timing.TickMs(); });
  progress = &line;
  TerminalPorts ports(timing);
  if (!ports.Ready()) return kExitBadUsage;
  app::ConsoleView view(choices.logOnStandardError ? std::cerr : std::cout, std::cerr, std::cin,
                        answer);
  view.SetProgressSink(&line);
  view.AnswerFor(update::kEraseAnywayQuestion, choices.eraseAnyway);
  // The question comes after each minute of waiting: OK until the minutes are up.
  view.AnswerFor(update::kKeepWaitingQuestion, answer, std::max(choices.readyMinutes - 1, 0));
  app::Updater updater(view, ports.factory(), &timing, nullptr);
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
