// db report, db convert, db dump.
#include "cli/commands.h"

namespace zephor::cli {

void AddDatabaseCommands(CLI::App& app, int& exitCode) {
  (void)app;
  (void)exitCode;
}

}  // namespace zephor::cli
