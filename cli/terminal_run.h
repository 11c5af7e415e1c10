// Running one updater operation on the terminal, shared by the subcommands.
#pragma once

#include <functional>
#include <string>

#include "app/console_view.h"
#include "app/port_dump.h"
#include "app/updater.h"

namespace zephor::cli {

inline constexpr int kExitDone = 0;
inline constexpr int kExitCancelled = 1;
inline constexpr int kExitBadPort = 2;
inline constexpr int kExitNoInstrument = 3;
inline constexpr int kExitUpdateStopped = 4;
inline constexpr int kExitRestoreIncomplete = 5;
inline constexpr char kPortHelp[] =
    "COMn, a device path or a /dev/serial/by-id name (zephor ports lists them)";

// Resolves COMn, a device path or a by-id name to a port index (a device no COMn opens stands in
// for COM1); says on standard error when it cannot.
bool ResolvePort(const std::string& portName, int& portIndex);

// Runs one operation of the updater on the terminal; returns its exit code: the program's exit
// code when the operation ended the program, else 0 when it returned true and 1 otherwise.
int RunOnTerminal(const std::string& portName, app::ConsoleAnswer answer,
                  const std::function<bool(app::Updater&)>& operation);
// The same for an operation that gives its own exit code. A signal (interrupt, terminate,
// hang-up) stops the operation at its next wait; the exit code is then 128 and the signal's
// number (130, 143, 129).
// How the questions that must not be answered blindly are answered.
struct CarefulAnswers {
  // "Erase anyway?" (an erase without a backup).
  app::ConsoleAnswer eraseAnyway = app::ConsoleAnswer::kCancel;
  // "ZEPHOR not ready. Keep waiting?" comes once a minute; a preset OK holds this many minutes.
  int readyMinutes = 10;
};

int RunOnTerminalWithCode(const std::string& portName, app::ConsoleAnswer answer,
                          const std::function<int(app::Updater&)>& operation,
                          const CarefulAnswers& careful = {});

// The answer to "Erase anyway?": OK only with its own flag; asked when everything is asked.
app::ConsoleAnswer EraseAnywayAnswer(app::ConsoleAnswer answer, bool eraseWithoutBackup);

}  // namespace zephor::cli
