// update: the Make Update planner on the command line.
#include <memory>
#include <string>

#include "cli/commands.h"
#include "cli/terminal_run.h"
#include "update/update_planner.h"

namespace zephor::cli {
namespace {

// A script tells how the run ended by the exit code.
int ExitCodeOf(update::UpdateOutcome outcome) {
  switch (outcome) {
    case update::UpdateOutcome::kDone:
      return kExitDone;
    case update::UpdateOutcome::kNoInstrument:
      return kExitNoInstrument;
    case update::UpdateOutcome::kCancelled:
      return kExitCancelled;
    case update::UpdateOutcome::kStopped:
      return kExitUpdateStopped;
    case update::UpdateOutcome::kRestoreIncomplete:
      return kExitRestoreIncomplete;
  }
  return kExitUpdateStopped;
}

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
  auto eraseWithoutBackup = std::make_shared<bool>(false);
  CLI::App* update = app.add_subcommand(
      "update", "Compare the instrument's programs with the image files and load what is newer");
  update->footer(
      "Exit codes: 0 updated or up to date, 1 a warning's Cancel or a missing image, 2 bad port, "
      "3 no instrument, 4 update stopped, 5 database restore not completed, 129/130/143 stopped "
      "by a hang-up, an interrupt or a terminate signal.");
  update->add_option("port", *portName, kPortHelp)->required();
  update->add_option("--images", *images,
                     "Directory of the image files and the saved database (default: here)");
  CLI::Option* yesFlag = update->add_flag("--yes", *yes, "Answer OK to every warning");
  update->add_flag("--no", *no, "Answer Cancel to every warning")->excludes(yesFlag);
  update->add_flag("--erase-without-backup", *eraseWithoutBackup,
                   "Answer OK to \"Erase anyway?\" when no backup could be saved");
  update->callback([&exitCode, portName, images, yes, no, eraseWithoutBackup] {
    const app::ConsoleAnswer answer = AnswerFromFlags(*yes, *no);
    exitCode = RunOnTerminalWithCode(
        *portName, answer,
        [images](app::Updater& u) {
          return ExitCodeOf(update::OnMakeUpdate(u.station(), *images));
        },
        EraseAnywayAnswer(answer, *eraseWithoutBackup));
  });
}

}  // namespace zephor::cli
