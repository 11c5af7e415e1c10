// port-dump, info and erase.
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "app/open_failure_report.h"
#include "app/port_dump.h"
#include "cli/commands.h"
#include "cli/terminal_run.h"
#include "device/erase.h"
#include "device/identify.h"
#include "device/info_report.h"
#include "serial/posix_driver.h"
#include "serial/system_timing.h"
#include "update/measurement_backup.h"

namespace zephor::cli {
namespace {

// The identification answered when it did not end with no instrument connected.
constexpr char kNoZephor[] = "No ZEPHOR connected";

int RunPortDump(const std::string& portName) {
  int portIndex = 0;
  if (!ResolvePort(portName, portIndex)) return kExitBadPort;
  serial::PosixPortFactory system;
  app::OpenFailureReport factory(system, std::cerr);
  serial::SystemTiming timing;
  const serial::PortEnvironment env{&factory, &timing};
  const int status = app::DumpOpenedPort(
      env, portIndex, [](const std::string& line) { std::cout << line << "\n"; });
  std::cout << "Open status: " << status << "\n";
  return status == serial::kOk ? EXIT_SUCCESS : EXIT_FAILURE;
}

}  // namespace

void AddPortCommands(CLI::App& app, int& exitCode) {
  auto portName = std::make_shared<std::string>();
  CLI::App* portDump =
      app.add_subcommand("port-dump", "Open a port at 9600 8N1 and print its settings and state");
  portDump->add_option("port", *portName, kPortHelp)->required();
  portDump->callback([&exitCode, portName] { exitCode = RunPortDump(*portName); });

  CLI::App* info = app.add_subcommand("info", "Identify the instrument and print its information");
  info->add_option("port", *portName, kPortHelp)->required();
  info->callback([&exitCode, portName] {
    exitCode = RunOnTerminal(*portName, app::ConsoleAnswer::kOk, [](app::Updater& u) {
      device::OnInfo(u.station());
      return u.station().statusText != kNoZephor;
    });
  });

  auto yes = std::make_shared<bool>(false);
  auto eraseWithoutBackup = std::make_shared<bool>(false);
  CLI::App* erase = app.add_subcommand(
      "erase", "Save the measurement memory to a dated backup here, then erase it");
  erase->add_option("port", *portName, kPortHelp)->required();
  erase->add_flag("--yes", *yes, "Do not ask for confirmation");
  erase->add_flag("--erase-without-backup", *eraseWithoutBackup,
                  "Erase even when no backup could be saved");
  erase->callback([&exitCode, portName, yes, eraseWithoutBackup] {
    const auto answer = *yes ? app::ConsoleAnswer::kOk : app::ConsoleAnswer::kAsk;
    exitCode = RunOnTerminalWithCode(
        *portName, answer,
        [](app::Updater& u) {
          if (!u.ShowMessage("Erase all measurements stored in the ZEPHOR?",
                             device::MessageButtons::kOkCancel)) {
            return kExitCancelled;
          }
          // The backup is named by the instrument's number.
          device::DeviceInfo info;
          if (!device::Identify(u.station(), info) || u.station().statusText != device::kStatusOk) {
            device::ShowNoInfo(u.station());
            return kExitNoInstrument;
          }
          if (!update::BackupBeforeErase(u.station(), u.station().portIndex, {},
                                         info.equipmentNumber)) {
            return kExitCancelled;
          }
          return device::EraseLogger(u.station(), true) ? kExitDone : kExitNoInstrument;
        },
        CarefulAnswers{EraseAnywayAnswer(answer, *eraseWithoutBackup)});
  });
}

}  // namespace zephor::cli
