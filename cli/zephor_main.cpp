// zephor: the command-line companion of the update program; each subcommand is thin over src/app.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <string>

#include "app/console_view.h"
#include "app/port_dump.h"
#include "app/updater.h"
#include "device/erase.h"
#include "device/info_report.h"
#include "serial/posix_driver.h"
#include "serial/system_timing.h"

namespace {

// The variable the POSIX driver reads for the device of COM1.
constexpr char kCom1Variable[] = "ZEPHOR_COM1";
constexpr int kExitBadPort = 2;

int RunPortDump(const std::string& portName) {
  int portIndex = 0;
  if (!zephor::app::PortIndexFromName(portName, portIndex)) {
    // A device path stands in for COM1.
    if (setenv(kCom1Variable, portName.c_str(), 1) != 0) {
      std::cerr << "cannot set " << kCom1Variable << "\n";
      return kExitBadPort;
    }
    portIndex = 0;
  }
  zephor::serial::PosixPortFactory factory;
  zephor::serial::SystemTiming timing;
  const zephor::serial::PortEnvironment env{&factory, &timing};
  const int status = zephor::app::DumpOpenedPort(
      env, portIndex, [](const std::string& line) { std::cout << line << "\n"; });
  std::cout << "Open status: " << status << "\n";
  return status == zephor::serial::kOk ? EXIT_SUCCESS : EXIT_FAILURE;
}

// Resolves COM1..COM4 or a device path (standing in for COM1) to a port index.
bool ResolvePort(const std::string& portName, int& portIndex) {
  if (zephor::app::PortIndexFromName(portName, portIndex)) return true;
  portIndex = 0;
  return setenv(kCom1Variable, portName.c_str(), 1) == 0;
}

// Runs one operation of the updater on the terminal; returns its exit code.
int RunOnTerminal(const std::string& portName, zephor::app::ConsoleAnswer answer,
                  const std::function<bool(zephor::app::Updater&)>& operation) {
  int portIndex = 0;
  if (!ResolvePort(portName, portIndex)) {
    std::cerr << "cannot use port " << portName << "\n";
    return kExitBadPort;
  }
  zephor::serial::PosixPortFactory factory;
  zephor::serial::SystemTiming timing;
  zephor::app::ConsoleView view(std::cout, std::cerr, std::cin, answer);
  zephor::app::Updater updater(view, &factory, &timing, nullptr);
  updater.station().portIndex = portIndex;
  bool ok = false;
  updater.RunOperation([&] { ok = operation(updater); });
  if (view.exitRequested()) return view.exitCode();
  return ok ? EXIT_SUCCESS : EXIT_FAILURE;
}

// The identification answered when it did not end with no instrument connected.
constexpr char kNoZephor[] = "No ZEPHOR connected";

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"ZEPHOR service utility"};
  app.require_subcommand(1);

  std::string portName;
  CLI::App* portDump =
      app.add_subcommand("port-dump", "Open a port at 9600 8N1 and print its settings and state");
  portDump->add_option("port", portName, "COM1 to COM4, or a device path used as COM1")->required();

  CLI::App* info = app.add_subcommand("info", "Identify the instrument and print its information");
  info->add_option("port", portName, "COM1 to COM4, or a device path used as COM1")->required();

  bool yes = false;
  CLI::App* erase = app.add_subcommand("erase", "Erase the instrument's measurement memory");
  erase->add_option("port", portName, "COM1 to COM4, or a device path used as COM1")->required();
  erase->add_flag("--yes", yes, "Do not ask for confirmation");

  CLI11_PARSE(app, argc, argv);

  if (portDump->parsed()) return RunPortDump(portName);
  if (info->parsed()) {
    return RunOnTerminal(portName, zephor::app::ConsoleAnswer::kOk, [](zephor::app::Updater& u) {
      zephor::device::OnInfo(u.station());
      return u.station().statusText != kNoZephor;
    });
  }
  if (erase->parsed()) {
    const auto answer = yes ? zephor::app::ConsoleAnswer::kOk : zephor::app::ConsoleAnswer::kAsk;
    return RunOnTerminal(portName, answer, [](zephor::app::Updater& u) {
      if (!u.ShowMessage("Erase all measurements stored in the ZEPHOR?",
                         zephor::device::MessageButtons::kOkCancel)) {
        return false;
      }
      return zephor::device::EraseLogger(u.station(), true);
    });
  }
  return EXIT_FAILURE;
}
