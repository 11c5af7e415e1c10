// Running one updater operation on the terminal, shared by the subcommands.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/console_view.h"
#include "app/exit_codes.h"
#include "app/open_failure_report.h"
#include "app/port_dump.h"
#include "app/traced_ports.h"
#include "app/updater.h"
#include "cli/terminal_timing.h"
#include "serial/timing.h"

namespace CLI {
class App;
}

namespace zephor::cli {

using app::kExitBadUsage;
using app::kExitCancelled;
using app::kExitDone;
using app::kExitFolderBusy;
using app::kExitNoInstrument;
using app::kExitRestoreIncomplete;
using app::kExitUpdateStopped;
inline constexpr char kPortHelp[] =
    "COMn, a device path or a /dev/serial/by-id name (zephor ports lists them)";

// --trace FILE on a subcommand that opens a port.
void AddTraceOption(CLI::App& command);

// The ports a subcommand opens: the system's, a failed open told in words on standard error,
// traced when --trace asked for it.
class TerminalPorts {
 public:
  explicit TerminalPorts(serial::Timing& timing);
  serial::PortFactory* factory() { return traced_.factory(); }
  // False, after saying why on standard error, when the trace file cannot be written.
  bool Ready() const;

 private:
  std::unique_ptr<serial::PortFactory> system_;
  app::OpenFailureReport report_;
  app::TracedPorts traced_;
};

// Resolves COMn, a device path or a by-id name to a port index (a device no COMn opens stands in
// for COM1); says on standard error when it cannot.
bool ResolvePort(const std::string& portName, int& portIndex);

// How the questions that must not be answered blindly are answered, and where the log goes.
struct RunChoices {
  // "Erase anyway?" (an erase without a backup).
  app::ConsoleAnswer eraseAnyway = app::ConsoleAnswer::kCancel;
  // "ZEPHOR not ready. Keep waiting?" comes once a minute; a preset OK holds this many minutes.
  int readyMinutes = 10;
  // The log on standard error, leaving standard output to a machine-readable answer.
  bool logOnStandardError = false;
  // Everything the run shows as event lines on standard output, questions nobody preset
  // answered by reply lines on standard input: the run is watched by zephor fleet.
  bool events = false;
};

// Runs one operation of the updater on the terminal; returns the program's exit code when the
// operation ended the program, else the operation's own. A signal (interrupt, terminate,
// hang-up) stops the operation at its next wait; the exit code is then 128 and the signal's
// number (130, 143, 129).
int RunOnTerminalWithCode(const std::string& portName, app::ConsoleAnswer answer,
                          const std::function<int(app::Updater&)>& operation,
                          const RunChoices& choices = {});

// The answer to "Erase anyway?": OK only with its own flag; asked when everything is asked.
app::ConsoleAnswer EraseAnywayAnswer(app::ConsoleAnswer answer, bool eraseWithoutBackup);

}  // namespace zephor::cli
