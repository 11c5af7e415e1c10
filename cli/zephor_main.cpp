// zephor: the command-line companion of the update program; each subcommand is thin over src/app.
#include <CLI/CLI.hpp>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>

#include "cli/commands.h"
#include "cli/program_version.h"

namespace {
constexpr int kExitBadUsage = 2;

bool IsCommand(const CLI::App& app, const std::string& name) {
  for (const CLI::App* command : app.get_subcommands({})) {
    if (command->check_name(name)) return true;
  }
  return false;
}
}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"ZEPHOR service utility"};
  app.require_subcommand(1);
  app.set_version_flag("--version", zephor::cli::ProgramVersion());
  int exitCode = EXIT_FAILURE;
  zephor::cli::AddPortCommands(app, exitCode);
  zephor::cli::AddPortsCommand(app, exitCode);
  zephor::cli::AddTransferCommands(app, exitCode);
  zephor::cli::AddUpdateCommands(app, exitCode);
  zephor::cli::AddDatabaseCommands(app, exitCode);
  zephor::cli::AddFleetCommand(app, exitCode);
  // A mistyped command is named as such, not taken for a missing one.
  if (argc > 1 && argv[1][0] != '-' && !IsCommand(app, argv[1])) {
    std::cerr << "zephor: unknown command " << argv[1] << " (zephor --help lists them)\n";
    return kExitBadUsage;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help and the version are no error; every mistake of usage exits 2.
    return app.exit(e) == 0 ? EXIT_SUCCESS : kExitBadUsage;
  } catch (const std::exception& e) {
    std::cerr << "zephor: " << e.what() << "\n";
    return EXIT_FAILURE;
  }
  return exitCode;
}
