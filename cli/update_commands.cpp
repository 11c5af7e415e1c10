// update: the Make Update planner on the command line.
#include <memory>
#include <string>

#include "cli/commands.h"
#include "cli/terminal_run.h"
#include "update/update_planner.h"

namespace zephor::cli {
namespace {

app::ConsoleAnswer AnswerFromFlags(bool yes, bool no) {
  if (yes) return app::ConsoleAnswer::kOk;
  if (no) return app::ConsoleAnswer::kCancel;
  return app::ConsoleAnswer::kAsk;
}

}  // namespace

void AddUpdateCommands(CLI::App& app, int& exitCode) {
  auto portName = std::make_shared<std::string>();
  auto images = std::make_shared<std::string>();
  auto yes = std::make_shared<bool>(false);
  auto no = std::make_shared<bool>(false);
  CLI::App* update = app.add_subcommand(
      "update", "Compare the instrument's programs with the image files and load what is newer");
  update->add_option("port", *portName, kPortHelp)->required();
  update->add_option("--images", *images,
                     "Directory of the image files and the saved database (default: here)");
  CLI::Option* yesFlag = update->add_flag("--yes", *yes, "Answer OK to every warning");
  update->add_flag("--no", *no, "Answer Cancel to every warning")->excludes(yesFlag);
  update->callback([&exitCode, portName, images, yes, no] {
    const int code =
        RunOnTerminal(*portName, AnswerFromFlags(*yes, *no), [images](app::Updater& u) {
          update::OnMakeUpdate(u.station(), *images);
          // The run reports its own failures; only an ended program changes the exit code.
          return true;
        });
    exitCode = code;
  });
}

}  // namespace zephor::cli
