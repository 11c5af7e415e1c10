// port-dump, info and erase.
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "app/info_json.h"
#include "app/open_failure_report.h"
#include "app/port_dump.h"
#include "cli/commands.h"
#include "cli/terminal_run.h"
#include "cli/terminal_system.h"
#include "device/identify.h"
#include "device/info_report.h"
#include "serial/port_discovery.h"
#include "update/folder_check.h"
#include "update/memory_erase.h"

namespace zephor::cli {
namespace {

// The identification answered when it did not end with no instrument connected.
constexpr char kNoZephor[] = "No ZEPHOR connected";

int RunPortDump(const std::string& portName) {
  int portIndex = 0;
  if (!ResolvePort(portName, portIndex)) return kExitBadUsage;
  TerminalTiming timing(SystemClock());
  TerminalPorts ports(timing);
  if (!ports.Ready()) return kExitBadUsage;
  const serial::PortEnvironment env{ports.factory(), &timing};
  const int status = app::DumpOpenedPort(
      env, portIndex, [](const std::string& line) { std::cout << line << "\n"; });
  std::cout << "Open status: " << status << "\n";
  return status == serial::kOk ? kExitDone : kExitNoInstrument;
}

// zephor info --json: what the identification found, as one JSON object on standard output.
int PrintInfoJson(app::Updater& updater, const std::string& portName) {
  device::DeviceInfo info;
  bool answered = false;
  const app::InfoAnswer answer = app::IdentifyAnswer(updater.station(), portName, info, answered);
  std::cout << app::WriteInfoJson(answer) << std::endl;
  return updater.station().statusText == kNoZephor ? kExitNoInstrument : kExitDone;
}

}  // namespace

void AddPortCommands(CLI::App& app, int& exitCode) {
  auto portName = std::make_shared<std::string>();
  CLI::App* portDump =
      app.add_subcommand("port-dump", "Open a port at 9600 8N1 and print its settings and state");
  portDump->add_option("port", *portName, kPortHelp)->required();
  portDump->footer("Exit codes: 0 opened, 2 bad usage, 3 the port could not be opened.");
  portDump->callback([&exitCode, portName] { exitCode = RunPortDump(*portName); });

  AddTraceOption(*portDump);

  auto json = std::make_shared<bool>(false);
  CLI::App* info = app.add_subcommand("info", "Identify the instrument and print its information");
  info->add_option("port", *portName, kPortHelp)->required();
  info->add_flag("--json", *json,
                 "Print the port, the status and the instrument's information as JSON; the log "
                 "goes to standard error");
  AddTraceOption(*info);
  info->footer("Exit codes: 0 information shown, 2 bad usage, 3 no instrument.");
  info->callback([&exitCode, portName, json] {
    RunChoices choices;
    choices.logOnStandardError = *json;
    exitCode = RunOnTerminalWithCode(
        *portName, app::ConsoleAnswer::kOk,
        [portName, json](app::Updater& u) {
          if (*json) return PrintInfoJson(u, *portName);
          device::OnInfo(u.station());
          return u.station().statusText == kNoZephor ? kExitNoInstrument : kExitDone;
        },
        choices);
  });

  auto yes = std::make_shared<bool>(false);
  auto eraseWithoutBackup = std::make_shared<bool>(false);
  CLI::App* erase = app.add_subcommand(
      "erase", "Save the measurement memory to a dated backup here, then erase it");
  erase->add_option("port", *portName, kPortHelp)->required();
  erase->add_flag("--yes", *yes, "Do not ask for confirmation");
  erase->add_flag("--erase-without-backup", *eraseWithoutBackup,
                  "Erase even when no backup could be saved");
  AddTraceOption(*erase);
  erase->footer(
      "Exit codes: 0 erased, 1 cancelled or no backup, 2 bad usage, 3 no instrument, 5 the "
      "instrument did not erase its memory (the surveys are kept in a dated backup), 6 another run "
      "holds this folder, 129/130/143 stopped by a signal.");
  erase->callback([&exitCode, portName, yes, eraseWithoutBackup] {
    const auto answer = *yes ? app::ConsoleAnswer::kOk : app::ConsoleAnswer::kAsk;
    exitCode = RunOnTerminalWithCode(
        *portName, answer,
        [](app::Updater& u) {
          switch (update::EraseWithBackup(u.station(), {})) {
            case update::EraseRunOutcome::kErased:
              return kExitDone;
            case update::EraseRunOutcome::kCancelled:
              return kExitCancelled;
            case update::EraseRunOutcome::kNoInstrument:
              return kExitNoInstrument;
            case update::EraseRunOutcome::kNotTaken:
              return kExitRestoreIncomplete;
            case update::EraseRunOutcome::kFolderBusy:
              return kExitFolderBusy;
          }
          return kExitRestoreIncomplete;
        },
        RunChoices{EraseAnywayAnswer(answer, *eraseWithoutBackup)});
  });
}

}  // namespace zephor::cli
