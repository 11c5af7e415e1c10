// The subcommand groups of the command-line companion. Each adds its subcommands to the app and,
// when one of them runs, stores the program's exit code.
#pragma once

#include <CLI/CLI.hpp>

namespace zephor::cli {

void AddPortCommands(CLI::App& app, int& exitCode);      // port-dump, info, erase
void AddPortsCommand(CLI::App& app, int& exitCode);      // ports
void AddTransferCommands(CLI::App& app, int& exitCode);  // send, receive
void AddUpdateCommands(CLI::App& app, int& exitCode);    // update
void AddDatabaseCommands(CLI::App& app, int& exitCode);  // db report, db convert, db dump
void AddFleetCommand(CLI::App& app, int& exitCode);      // fleet

}  // namespace zephor::cli
