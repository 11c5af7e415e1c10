// fleet: Make Update on every instrument on the PC's ports at once, one zephor update per
// instrument, each in its own folder; the options, the ports, the checks of usage and the
// terminal the fleet shows itself on. The loop is app::FleetRun.
#include <CLI/CLI.hpp>
#include <filesystem>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "app/exit_codes.h"
#include "app/fleet_processes.h"
#include "app/fleet_run.h"
#include "app/port_choice.h"
#include "app/signal_stop.h"
#include "cli/commands.h"
#include "cli/terminal_run.h"
#include "cli/terminal_system.h"
#include "files/folder_file.h"
#include "process/child_process.h"
#include "serial/port_discovery.h"

namespace zephor::cli {
namespace {

namespace fs = std::filesystem;

constexpr char kFleetExitCodeHelp[] =
    "Exit codes: the worst of the instruments' (those of zephor update), ranked from the least "
    "to the most in need of attention: 0 done, 1 cancelled, 2 bad usage, 6 folder or port refused "
    "or held, 3 no instrument, 4 update stopped, 5 needs a decision or another run (the surveys "
    "are safe); a run ended by a signal above all. 2 for bad usage of fleet itself, 3 when --all "
    "finds no ZEPHOR, 130/143/129 when the fleet is stopped by a signal (every instrument is "
    "stopped through its clean-up).";

// The ports named, then with --all every port found, each device once.
std::vector<std::string> FleetPorts(const app::FleetOptions& options) {
  const std::vector<serial::FoundPort> found = serial::FindPorts();
  std::vector<std::string> ports;
  std::set<std::string> devices;
  for (const std::string& name : options.ports) {
    if (devices.insert(app::DeviceOfPort(name, found)).second) ports.push_back(name);
  }
  if (!options.all) return ports;
  for (const serial::FoundPort& port : found) {
    const int index = app::PortIndexOfDevice(port.device);
    const std::string name = index < 0 ? port.device : "COM" + std::to_string(index + 1);
    if (devices.insert(app::DeviceOfPort(name, found)).second) ports.push_back(name);
  }
  return ports;
}

// Mistakes of usage are told before any port is opened.
bool IsFolder(files::Disk& disk, const fs::path& path) {
  files::NameStatus status;
  std::string why;
  return disk.Status(path, status, why) && status.kind == files::EntryKind::kFolder;
}

int RunFleet(app::FleetOptions options) {
  if (options.ports.empty() && !options.all) {
    std::cerr << "zephor fleet: name the ports, or give --all\n";
    return app::kExitBadUsage;
  }
  files::Disk& disk = files::SystemDisk();
  std::error_code error;
  options.images = fs::absolute(options.images.empty() ? "." : options.images, error).string();
  if (!IsFolder(disk, options.images)) {
    std::cerr << "cannot read the images from " << options.images << ": no such folder\n";
    return app::kExitBadUsage;
  }
  options.out = fs::absolute(options.out.empty() ? "." : options.out, error).string();
  std::string why;
  if (!files::MakeFolders(disk, options.out, why)) {
    std::cerr << "cannot make the folder " << options.out << ": " << why << "\n";
    return app::kExitBadUsage;
  }
  if (!options.trace.empty() && (fs::path(options.trace).filename() != options.trace ||
                                 options.trace == "." || options.trace == "..")) {
    std::cerr << "--trace takes a file name, written in each instrument's folder, not "
              << options.trace << "\n";
    return app::kExitBadUsage;
  }
  // The report is written at the end, through a temporary beside it: its folder must be there
  // now, before any instrument is touched. Nothing is opened at its name, which may be a link.
  if (!options.report.empty() &&
      !IsFolder(disk, fs::absolute(options.report, error).parent_path())) {
    std::cerr << "cannot write the report " << options.report << ": no such folder\n";
    return app::kExitBadUsage;
  }
  const std::string program = process::OwnProgramPath();
  if (program.empty()) {
    std::cerr << "zephor fleet: cannot find its own program to run for each instrument\n";
    return app::kExitBadUsage;
  }
  const std::vector<std::string> ports = FleetPorts(options);
  if (ports.empty()) {
    std::cerr << "no serial ports found\n";
    return app::kExitNoInstrument;
  }
  const app::SignalStop signals;
  KeepRunningWithoutReader();
  app::ProcessFleet system(program);
  const bool live = StandardErrorTakesCursorMoves();
  const app::FleetConsole console{std::cerr, std::cout, live, live ? TerminalColumns() : 0,
                                  system.InputEchoed()};
  app::FleetRun fleet(options, system, console);
  return fleet.Run(ports);
}

}  // namespace

void AddFleetCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<app::FleetOptions>();
  CLI::App* fleet = app.add_subcommand(
      "fleet", "Make Update on the instruments of several ports at once, each in its own folder");
  fleet->footer(kFleetExitCodeHelp);
  fleet->add_option("ports", options->ports, kPortHelp);
  fleet->add_flag("--all", options->all,
                  "Every port zephor ports finds; those where no ZEPHOR answers are skipped");
  fleet->add_option("--images", options->images, "Directory of the image files (default: here)");
  fleet->add_option("--out", options->out,
                    "Where each instrument's folder ZEPHOR-<equipment number> is made "
                    "(default: here)");
  CLI::Option* yes = fleet->add_flag("--yes", options->yes, "Answer OK to every warning");
  fleet->add_flag("--no", options->no, "Answer Cancel to every warning")->excludes(yes);
  fleet->add_flag("--erase-without-backup", options->eraseWithoutBackup,
                  "Answer OK to \"Erase anyway?\" when no backup could be saved");
  fleet
      ->add_option("--ready-minutes", options->readyMinutes,
                   "With --yes, keep waiting for READY this many minutes (default 10)")
      ->check(CLI::NonNegativeNumber);
  fleet->add_option("--json", options->report,
                    "Write the report to this file: per instrument the port, identification "
                    "before and after, images loaded, files written, exit code and duration");
  fleet->add_option("--trace", options->trace,
                    "Write each instrument's line trace to this file name in its folder");
  fleet->callback([&exitCode, options] { exitCode = RunFleet(*options); });
}

}  // namespace zephor::cli
