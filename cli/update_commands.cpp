// update: the Make Update planner on the command line.
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "app/event_stream.h"
#include "app/info_json.h"
#include "cli/commands.h"
#include "cli/terminal_run.h"
#include "device/identify.h"
#include "device/info_report.h"
#include "update/backup_restore.h"
#include "update/folder_check.h"
#include "update/open_run_wait.h"
#include "update/restore_resume.h"
#include "update/update_planner.h"

namespace zephor::cli {
namespace {

constexpr int kDefaultReadyMinutes = 10;
constexpr const char* kUpdateExitCodeHelp =
    "Exit codes: 0 done or up to date, 1 a warning's Cancel or a missing image, 2 bad usage, 3 no "
    "instrument, 4 update stopped, 5 the surveys are safe but the instrument needs a decision or "
    "another run (a database restore not completed or left open, an erase that did not take, a "
    "write-back refused, a journal here that cannot be used), 6 another run holds this folder, "
    "129/130/143 stopped by a hang-up, an interrupt or a terminate signal.";

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
    case update::UpdateOutcome::kFolderBusy:
      return kExitFolderBusy;
  }
  return kExitUpdateStopped;
}

app::ConsoleAnswer AnswerFromFlags(bool yes, bool no) {
  if (yes) return app::ConsoleAnswer::kOk;
  if (no) return app::ConsoleAnswer::kCancel;
  return app::ConsoleAnswer::kAsk;
}

// The options update and restore share.
struct RunOptions {
  std::string portName;
  std::string images;
  std::string folder;  // the working folder; the images folder when not given
  bool yes = false;
  bool no = false;
  bool eraseWithoutBackup = false;
  int readyMinutes = kDefaultReadyMinutes;
  std::string backup;            // restore only: a dated backup to write back
  bool otherInstrument = false;  // restore only: the backup may be another instrument's
  bool close = false;            // restore only: end the open restore on the technician's word
  bool events = false;           // update only: watched by zephor fleet
  bool folderFromInput = false;  // update only: zephor fleet gives the folder once identified

  app::ConsoleAnswer Answer() const { return AnswerFromFlags(yes, no); }
  std::filesystem::path Folder() const { return folder.empty() ? images : folder; }
  RunChoices Choices() const {
    return {EraseAnywayAnswer(Answer(), eraseWithoutBackup), readyMinutes};
  }
};

void AddRunOptions(CLI::App* command, RunOptions& options) {
  command->footer(kUpdateExitCodeHelp);
  command->add_option("port", options.portName, kPortHelp)->required();
  command->add_option("--images", options.images,
                      "Directory of the image files, the journal and the saved databases "
                      "(default: here)");
  command->add_option("--folder", options.folder,
                      "Working folder of the journal, the saved databases and the report, when "
                      "it is not the images' (several instruments share one set of images)");
  CLI::Option* yesFlag = command->add_flag("--yes", options.yes, "Answer OK to every warning");
  command->add_flag("--no", options.no, "Answer Cancel to every warning")->excludes(yesFlag);
  command->add_flag("--erase-without-backup", options.eraseWithoutBackup,
                    "Answer OK to \"Erase anyway?\" when no backup could be saved");
  command
      ->add_option("--ready-minutes", options.readyMinutes,
                   "With --yes, keep waiting for READY this many minutes (default 10)")
      ->check(CLI::NonNegativeNumber);
  AddTraceOption(*command);
}

// zephor restore: only the restore an earlier run left open, on the instrument it belongs to; or,
// with --backup, a named backup written back to an instrument whose memory is empty.
int FinishRestore(app::Updater& updater, const std::filesystem::path& directory,
                  const RunOptions& options) {
  device::Station& station = updater.station();
  const std::optional<files::FolderLock> folder = update::TakeFolder(station, directory);
  if (!folder) return kExitFolderBusy;
  device::DeviceInfo info;
  if (!update::IdentifyForOpenRun(station, directory, info) ||
      station.statusText != device::kStatusOk) {
    device::ShowNoInfo(station);
    return kExitNoInstrument;
  }
  if (!options.backup.empty()) {
    if (!update::RestoreFromBackup(station, info, directory, options.backup,
                                   options.otherInstrument)) {
      return kExitRestoreIncomplete;
    }
    updater.ShowMessage(update::kRestartText, device::MessageButtons::kOk);
    return kExitDone;
  }
  if (options.close) {
    return update::CloseOpenRestore(station, directory, info) ? kExitDone : kExitRestoreIncomplete;
  }
  if (!update::JournalsAllowRun(station, directory, info.equipmentNumber)) {
    return kExitRestoreIncomplete;
  }
  switch (update::FinishOpenRestore(station, info, directory)) {
    case update::ResumeOutcome::kNone:
      updater.AppendLog(update::kNoOpenRestoreLine);
      return kExitDone;
    case update::ResumeOutcome::kDeclined:
      update::TellOpenRestoreLeft(station, directory, info);
      return kExitRestoreIncomplete;
    case update::ResumeOutcome::kIncomplete:
      return kExitRestoreIncomplete;
    case update::ResumeOutcome::kFinished:
      break;
  }
  updater.ShowMessage(update::kRestartText, device::MessageButtons::kOk);
  return kExitDone;
}

// zephor fleet plans each instrument's folder from what every port answered: the run identifies
// its instrument, tells what it found and waits for its folder, and the update goes on from that
// identification without asking the instrument again. A line that names no folder, or the end
// of the input, leaves the instrument as it is.
int UpdateInFolderGiven(app::Updater& updater, const RunOptions& options) {
  device::Station& station = updater.station();
  device::DeviceInfo info;
  bool answered = false;
  const app::InfoAnswer identity = app::IdentifyAnswer(station, options.portName, info, answered);
  std::cout << app::EncodeIdentityLine(app::WriteInfoJson(identity)) << std::endl;
  if (!answered) return kExitNoInstrument;
  std::string line;
  app::ReplyLines replies(std::cin);
  if (replies.Next(line) != app::ReplyLines::Read::kLine) return kExitCancelled;
  const std::optional<std::filesystem::path> folder = app::DecodeFolderLine(line);
  if (!folder) return kExitCancelled;
  return ExitCodeOf(update::OnMakeUpdate(station, *folder, options.images, &info));
}

}  // namespace

void AddUpdateCommands(CLI::App& app, int& exitCode) {
  auto updateOptions = std::make_shared<RunOptions>();
  CLI::App* update = app.add_subcommand(
      "update", "Compare the instrument's programs with the image files and load what is newer");
  AddRunOptions(update, *updateOptions);
  update->add_flag("--events", updateOptions->events,
                   "Write the log, progress and messages as JSON lines on standard output and "
                   "read the answers to questions as lines (ok, cancel) on standard input; "
                   "zephor fleet watches its instruments so");
  update
      ->add_flag("--folder-from-input", updateOptions->folderFromInput,
                 "With --events: identify the instrument first, write what it told as one line "
                 "({\"identity\": ...}) and read the working folder as one line "
                 "({\"folder\": PATH}) on standard input; any other line, or the input's end, "
                 "leaves the instrument as it is. zephor fleet plans its folders so")
      ->needs("--events")
      ->excludes("--folder");
  update->callback([&exitCode, updateOptions] {
    const RunOptions& o = *updateOptions;
    RunChoices choices = o.Choices();
    choices.events = o.events;
    exitCode = RunOnTerminalWithCode(
        o.portName, o.Answer(),
        [&o](app::Updater& u) {
          if (o.folderFromInput) return UpdateInFolderGiven(u, o);
          return ExitCodeOf(update::OnMakeUpdate(u.station(), o.Folder(), o.images));
        },
        choices);
  });

  auto restoreOptions = std::make_shared<RunOptions>();
  CLI::App* restore = app.add_subcommand(
      "restore", "Finish the database restore an earlier update left open on this instrument");
  AddRunOptions(restore, *restoreOptions);
  CLI::Option* backupOption =
      restore->add_option("--backup", restoreOptions->backup,
                          "Write this dated backup's conversion (or report) to an instrument whose "
                          "memory is empty, when no journal can finish the restore");
  restore
      ->add_flag("--other-instrument", restoreOptions->otherInstrument,
                 "With --backup: write a backup that is not known as this instrument's")
      ->needs(backupOption);
  restore
      ->add_flag("--close", restoreOptions->close,
                 "End this instrument's open restore on your word: nothing is sent to it, its "
                 "record is kept under a closed name and the dated backups stay")
      ->excludes(backupOption);
  restore->callback([&exitCode, restoreOptions] {
    const RunOptions& o = *restoreOptions;
    exitCode = RunOnTerminalWithCode(
        o.portName, o.Answer(), [&o](app::Updater& u) { return FinishRestore(u, o.Folder(), o); },
        o.Choices());
  });
}

}  // namespace zephor::cli
