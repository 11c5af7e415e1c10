// zephor: the command-line companion of the update program; each subcommand is thin over src/app.
#include <CLI/CLI.hpp>
#include <cstdlib>
#include <string>

#include "cli/commands.h"

int main(int argc, char** argv) {
  CLI::App app{"ZEPHOR service utility"};
  app.require_subcommand(1);
  app.set_version_flag("--version",
                       std::string("zephor ") + ZEPHOR_VERSION + " (commit " + ZEPHOR_COMMIT + ")");
  int exitCode = EXIT_FAILURE;
  zephor::cli::AddPortCommands(app, exitCode);
  zephor::cli::AddTransferCommands(app, exitCode);
  zephor::cli::AddUpdateCommands(app, exitCode);
  zephor::cli::AddDatabaseCommands(app, exitCode);
  CLI11_PARSE(app, argc, argv);
  return exitCode;
}
