#include "cli/terminal_run.h"

#include <cstdlib>
#include <iostream>

#include "serial/posix_driver.h"
#include "serial/system_timing.h"

namespace zephor::cli {
namespace {
// The variable the POSIX driver reads for the device of COM1.
constexpr char kCom1Variable[] = "ZEPHOR_COM1";
}  // namespace

bool ResolvePort(const std::string& portName, int& portIndex) {
  if (app::PortIndexFromName(portName, portIndex)) return true;
  portIndex = 0;
  if (setenv(kCom1Variable, portName.c_str(), 1) == 0) return true;
  std::cerr << "cannot use port " << portName << "\n";
  return false;
}

int RunOnTerminal(const std::string& portName, app::ConsoleAnswer answer,
                  const std::function<bool(app::Updater&)>& operation) {
  int portIndex = 0;
  if (!ResolvePort(portName, portIndex)) return kExitBadPort;
  serial::PosixPortFactory factory;
  serial::SystemTiming timing;
  app::ConsoleView view(std::cout, std::cerr, std::cin, answer);
  app::Updater updater(view, &factory, &timing, nullptr);
  updater.station().portIndex = portIndex;
  bool ok = false;
  updater.RunOperation([&] { ok = operation(updater); });
  if (view.exitRequested()) return view.exitCode();
  return ok ? EXIT_SUCCESS : EXIT_FAILURE;
}

}  // namespace zephor::cli
