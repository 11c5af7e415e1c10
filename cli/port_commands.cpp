// port-dump, info and erase.
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "app/port_dump.h"
#include "cli/commands.h"
#include "cli/terminal_run.h"
#include "device/erase.h"
#include "device/info_report.h"
#include "serial/posix_driver.h"
#include "serial/system_timing.h"

namespace zephor::cli {
namespace {

// The identification answered when it did not end with no instrument connected.
constexpr char kNoZephor[] = "No ZEPHOR connected";

int RunPortDump(const std::string& portName) {
  int portIndex = 0;
  if (!ResolvePort(portName, portIndex)) return kExitBadPort;
  serial::PosixPortFactory factory;
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
  CLI::App* erase = app.add_subcommand("erase", "Erase the instrument's measurement memory");
  erase->add_option("port", *portName, kPortHelp)->required();
  erase->add_flag("--yes", *yes, "Do not ask for confirmation");
  erase->callback([&exitCode, portName, yes] {
    const auto answer = *yes ? app::ConsoleAnswer::kOk : app::ConsoleAnswer::kAsk;
    exitCode = RunOnTerminal(*portName, answer, [](app::Updater& u) {
      if (!u.ShowMessage("Erase all measurements stored in the ZEPHOR?",
                         device::MessageButtons::kOkCancel)) {
        return false;
      }
      return device::EraseLogger(u.station(), true);
    });
  });
}

}  // namespace zephor::cli
