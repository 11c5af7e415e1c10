#include "cli/terminal_run.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdlib>
#include <iostream>

#include "app/event_view.h"
#include "app/port_choice.h"
#include "app/progress_line.h"
#include "app/signal_stop.h"
#include "cli/terminal_system.h"
#include "serial/port_discovery.h"
#include "update/database_restore.h"
#include "update/measurement_backup.h"

namespace zephor::cli {
namespace {
// The file --trace named for this run; one subcommand runs per program.
std::string& TracePath() {
  static std::string path;
  return path;
}
}  // namespace

void AddTraceOption(CLI::App& command) {
  command.add_option("--trace", TracePath(),
                     "Write every byte on the line, and every open and close, to this file");
}

TerminalPorts::TerminalPorts(serial::Timing& timing)
    : system_(SystemPortFactory()),
      report_(*system_, std::cerr),
      traced_(
          report_, [&timing] { return timing.TickMs(); }, TracePath(), app::PortAndDevice) {}

bool TerminalPorts::Ready() const {
  if (traced_.failure().empty()) return true;
  std::cerr << traced_.failure() << "\n";
  return false;
}

bool ResolvePort(const std::string& portName, int& portIndex) {
  if (app::PortIndexForName(portName, serial::FindPorts(), portIndex)) return true;
  std::cerr << "cannot use port " << portName
            << ": give COM1 to COM256, a device path or a "
               "/dev/serial/by-id name (zephor ports lists them)\n";
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
  TerminalTiming timing(SystemClock());
  app::ProgressLine line(std::cerr, StandardErrorIsTerminal(),
                         [&timing] { return timing.TickMs(); });
  // On every pass of a wait: a signal stops the operation as a closed window would, and the
  // live line counts down.
  timing.SetChores([&running, &line] {
    if (running != nullptr && app::SignalStop::Caught() != 0) running->StopForSignal();
    line.Tick();
  });
  TerminalPorts ports(timing);
  if (!ports.Ready()) return kExitBadUsage;
  app::ConsoleView console(choices.logOnStandardError ? std::cerr : std::cout, std::cerr, std::cin,
                           answer);
  console.SetProgressSink(&line);
  app::EventView events(std::cout, std::cerr, std::cin, answer);
  // A watcher that is gone must not end a load half-way: the run goes on unwatched.
  if (choices.events) KeepRunningWithoutReader();
  const auto setUp = [&](auto& view) {
    view.AnswerFor(update::kEraseAnywayQuestion, choices.eraseAnyway);
    // The question comes after each minute of waiting: OK until the minutes are up.
    view.AnswerFor(update::kKeepWaitingQuestion, answer, std::max(choices.readyMinutes - 1, 0));
  };
  setUp(console);
  setUp(events);
  app::UpdaterView& view = choices.events ? static_cast<app::UpdaterView&>(events) : console;
  app::Updater updater(view, ports.factory(), &timing, nullptr);
  running = &updater;
  updater.station().portIndex = portIndex;
  int code = EXIT_FAILURE;
  updater.RunOperation([&] { code = operation(updater); });
  if (app::SignalStop::Caught() != 0) {
    std::cerr << "stopped by signal " << app::SignalStop::Caught() << "\n";
    return app::SignalStop::ExitCode();
  }
  if (console.exitRequested()) return console.exitCode();
  if (events.exitRequested()) return events.exitCode();
  return code;
}

}  // namespace zephor::cli
