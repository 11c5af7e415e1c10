// send, receive: one XMODEM transfer over a port opened like the uploads open theirs.
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "app/signal_stop.h"
#include "cli/commands.h"
#include "cli/terminal_run.h"
#include "cli/terminal_system.h"
#include "device/command_link.h"
#include "transfer/xmodem.h"

namespace zephor::cli {
namespace {

constexpr int kTransferDone = 1;

enum class Direction { kSend, kReceive };

// A transfer's result as the program's exit code.
int ExitCodeOfTransfer(int result) {
  switch (result) {
    case kTransferDone:
      return kExitDone;
    case transfer::kXferNoFile:
    case transfer::kXferOpenFailed:
      return kExitBadUsage;  // the file to send is missing, or the one to write cannot be
    default:
      return kExitCancelled;
  }
}

int RunTransfer(Direction direction, const std::string& fileName, const std::string& portName) {
  int portIndex = 0;
  if (!ResolvePort(portName, portIndex)) return kExitBadUsage;
  const app::SignalStop signals;
  // A signal ends the transfer through its clean-up, as a closed window would.
  TerminalTiming timing(SystemClock());
  timing.SetChores([&timing] {
    if (app::SignalStop::Caught() != 0) timing.RequestStop();
  });
  TerminalPorts ports(timing);
  if (!ports.Ready()) return kExitBadUsage;
  serial::PortHandle port(serial::OpenPort({ports.factory(), &timing}, portIndex, device::kBaudRate,
                                           device::kParity, device::kDataBits, device::kStopBits));
  // The ports say in words why an open failed.
  if (port->status != serial::kOk) return kExitNoInstrument;
  // Every status message of the transfer is shown as it comes, so a stalled line is visible.
  const transfer::MessageSink print = [](const std::string& m) { std::cout << m << std::endl; };
  const int result = direction == Direction::kSend
                         ? transfer::SendFile(*port, fileName, {}, print)
                         : transfer::ReceiveFile(*port, fileName, {}, print);
  port.Close();
  if (app::SignalStop::Caught() != 0) {
    std::cerr << "stopped by signal " << app::SignalStop::Caught() << "\n";
    return app::SignalStop::ExitCode();
  }
  if (result != kTransferDone) std::cout << "result " << result << std::endl;
  return ExitCodeOfTransfer(result);
}

void AddTransfer(CLI::App& app, int& exitCode, Direction direction, const char* name,
                 const char* description, const char* fileHelp) {
  auto fileName = std::make_shared<std::string>();
  auto portName = std::make_shared<std::string>();
  CLI::App* command = app.add_subcommand(name, description);
  command->add_option("file", *fileName, fileHelp)->required();
  command->add_option("port", *portName, kPortHelp)->required();
  AddTraceOption(*command);
  command->footer(
      "Exit codes: 0 moved, 1 the transfer failed (its result is printed), 2 bad usage or a file "
      "that cannot be read or written, 3 the port could not be opened, 129/130/143 stopped by a "
      "signal.");
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
