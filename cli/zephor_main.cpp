// zephor: the command-line companion of the update program; each subcommand is thin over src/app.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "app/port_dump.h"
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

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"ZEPHOR service utility"};
  app.require_subcommand(1);

  std::string portName;
  CLI::App* portDump =
      app.add_subcommand("port-dump", "Open a port at 9600 8N1 and print its settings and state");
  portDump->add_option("port", portName, "COM1 to COM4, or a device path used as COM1")->required();

  CLI11_PARSE(app, argc, argv);

  if (portDump->parsed()) return RunPortDump(portName);
  return EXIT_FAILURE;
}
