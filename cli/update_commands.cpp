// update.
#include "cli/commands.h"

namespace zephor::cli {

void AddUpdateCommands(CLI::App& app, int& exitCode) {
  (void)app;
  (void)exitCode;
}

}  // namespace zephor::cli
