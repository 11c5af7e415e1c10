// send, receive.
#include "cli/commands.h"

namespace zephor::cli {

void AddTransferCommands(CLI::App& app, int& exitCode) {
  (void)app;
  (void)exitCode;
}

}  // namespace zephor::cli
