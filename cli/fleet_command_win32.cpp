// fleet on Windows: not built there (its instruments run as child programs watched through
// pipes, which only the POSIX half starts); the command says so instead of being unknown.
#include <iostream>

#include "app/exit_codes.h"
#include "cli/commands.h"

namespace zephor::cli {

void AddFleetCommand(CLI::App& app, int& exitCode) {
  CLI::App* fleet = app.add_subcommand("fleet", "Make Update on several ports at once (Linux)");
  fleet->allow_extras();
  fleet->callback([&exitCode] {
    std::cerr << "zephor fleet runs on Linux; on Windows update one instrument at a time with "
                 "zephor update PORT --folder DIR\n";
    exitCode = app::kExitBadUsage;
  });
}

}  // namespace zephor::cli
