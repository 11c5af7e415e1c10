// send, receive: one XMODEM transfer over a port opened like the uploads open theirs.
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "cli/commands.h"
#include "cli/terminal_run.h"
#include "device/command_link.h"
#include "serial/posix_driver.h"
#include "serial/system_timing.h"
#include "transfer/xmodem.h"

namespace zephor::cli {
namespace {

constexpr int kTransferDone = 1;

enum class Direction { kSend, kReceive };

int RunTransfer(Direction direction, const std::string& fileName, const std::string& portName) {
  int portIndex = 0;
  if (!ResolvePort(portName, portIndex)) return kExitBadPort;
  serial::PosixPortFactory factory;
  serial::SystemTiming timing;
  serial::PortHandle port(serial::OpenPort({&factory, &timing}, portIndex, device::kBaudRate,
                                           device::kParity, device::kDataBits, device::kStopBits));
  if (port->status != serial::kOk) {
    std::cerr << "cannot open " << portName << ": status " << port->status << "\n";
    return EXIT_FAILURE;
  }
  // Every status message of the transfer is shown as it comes, so a stalled line is visible.
  const transfer::MessageSink print = [](const std::string& m) { std::cout << m << std::endl; };
  const int result = direction == Direction::kSend
                         ? transfer::SendFile(*port, fileName, {}, print)
                         : transfer::ReceiveFile(*port, fileName, {}, print);
  port.Close();
  if (result == kTransferDone) return EXIT_SUCCESS;
  std::cout << "result " << result << std::endl;
  return EXIT_FAILURE;
}

void AddTransfer(CLI::App& app, int& exitCode, Direction direction, const char* name,
                 const char* description, const char* fileHelp) {
  auto fileName = std::make_shared<std::string>();
  auto portName = std::make_shared<std::string>();
  CLI::App* command = app.add_subcommand(name, description);
  command->add_option("file", *fileName, fileHelp)->required();
  command->add_option("port", *portName, kPortHelp)->required();
  command->callback([&exitCode, direction, fileName, portName] {
    exitCode = RunTransfer(direction, *fileName, *portName);
  });
}

}  // namespace

void AddTransferCommands(CLI::App& app, int& exitCode) {
  AddTransfer(app, exitCode, Direction::kSend, "send", "Send a file with XMODEM (128-byte blocks)",
              "the file to send; wildcards pick the first match");
  AddTransfer(app, exitCode, Direction::kReceive, "receive", "Receive a file with XMODEM",
              "the file to write");
}

}  // namespace zephor::cli
