// The planner: one run from the identification to the restart message.
#include "update/update_planner.h"

#include <bit>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "database/database_file.h"
#include "device/announced_wait.h"
#include "device/command_link.h"
#include "device/formatted_text.h"
#include "device/identify.h"
#include "device/info_report.h"
#include "device/transfer_progress.h"
#include "files/folder_file.h"
#include "update/database_restore.h"
#include "update/folder_check.h"
#include "update/folder_names.h"
#include "update/image_files.h"
#include "update/image_preflight.h"
#include "update/measurement_backup.h"
#include "update/memory_erase.h"
#include "update/open_run_wait.h"
#include "update/restore_resume.h"
#include "update/run_journal.h"
#include "update/update_sequences.h"

namespace zephor::update {
using device::Formatted;

namespace {

constexpr char kGradeQ[] = "Q";
constexpr char kGradeQN[] = "QN";
constexpr char kGradeQH[] = "QH";

bool IsBogus(float version) { return static_cast<double>(version) >= kBogusVersion; }

// Passes everything on to the window and notes when an operation ended the program, so that
// the run stops at once instead of going on to its next step.
class ExitWatch final : public device::PanelRelay {
 public:
  explicit ExitWatch(device::OperatorPanel& inner) : PanelRelay(inner) {}
  void ExitProgram(int code) override {
    ended_ = true;
    inner_.ExitProgram(code);
  }
  bool ended() const { return ended_; }

 private:
  bool ended_ = false;
};

// Puts the watch between the station and its window for one run.
class WatchedRun {
 public:
  explicit WatchedRun(device::Station& station)
      : station_(station), window_(station.panel), watch_(*station.panel) {
    station_.panel = &watch_;
  }
  ~WatchedRun() { station_.panel = window_; }
  WatchedRun(const WatchedRun&) = delete;
  WatchedRun& operator=(const WatchedRun&) = delete;

  bool ended() const { return watch_.ended(); }

 private:
  device::Station& station_;
  device::OperatorPanel* window_;
  ExitWatch watch_;
};

// The working values of one run.
struct Run {
  device::DeviceInfo info;
  UpdatePlan plan;
  bool programMissing = false;
  bool specialMain = false;
  bool restoreFollows = false;  // the database restore follows the main program of this run
  ImageVersions images;
  std::optional<SequenceStart> start;  // the sequence to run, if any
  JournalKeeper journal;               // inactive when the instrument is not known by its number
  // The record a loader's request was answered from, as it was found on disk: the instrument was
  // not known by its number then, so the record is put back unchanged if it turns out to be
  // another's.
  std::optional<files::Bytes> unconfirmedRecord;
};

// A loader that asked for a program is served from that program on, along the full series: the
// boot program is followed by the update and main programs, the update program by the main one.
void PlanMissingProgram(const std::string& statusText, Run& run) {
  if (statusText == device::kStatusNoBoot) run.start = SequenceStart::kBoot;
  if (statusText == device::kStatusNoUpdate) run.start = SequenceStart::kUpdate;
  if (statusText == device::kStatusNoMain) run.start = SequenceStart::kSpecialMain;
  run.programMissing = run.start.has_value();
}

// The planner's table: one sequence at most.
std::optional<SequenceStart> ChooseSequence(const UpdatePlan& plan) {
  if (plan.loadBoot && plan.loadUpdate && plan.loadMain) return SequenceStart::kNewBoot;
  if (!plan.loadBoot && plan.loadUpdate && plan.loadMain) return SequenceStart::kUpdate;
  if (!plan.loadBoot && !plan.loadUpdate && plan.loadMain) return SequenceStart::kSpecialMain;
  return std::nullopt;
}

// The first image of the record's sequence that no run has loaded; empty when all were.
std::string FirstUnloaded(const RunJournal& journal) {
  for (const std::string& image : journal.images) {
    if (!ImageLoaded(journal, image)) return image;
  }
  return {};
}

// Newer images that no update sequence loads on their own are named, so that a run that loads
// nothing says why.
void TellNothingLoaded(device::OperatorPanel& panel, const UpdatePlan& plan) {
  std::string newer;
  int count = 0;
  for (const auto& [load, image] :
       {std::pair{plan.loadBoot, kBootImage}, std::pair{plan.loadUpdate, kUpdateImage},
        std::pair{plan.loadMain, kMainImage}}) {
    if (!load) continue;
    newer += std::string(count++ == 0 ? "" : " and ") + image;
  }
  const bool several = count > 1;
  panel.AppendLog(Formatted(kNothingLoadedFormat, newer.c_str(), several ? "are" : "is",
                            several ? "them" : "it"));
}

// A loader letter comes before any system report: the instrument is known only through the
// record of a stopped run, which the operator confirms. It brings the special main (unless it was
// loaded already) and the restore; without it neither follows.
void ResumeFromJournal(device::Station& station, const std::filesystem::path& directory, Run& run) {
  files::Disk& disk = device::DiskOf(station);
  const std::optional<std::filesystem::path> found = FindNewestJournal(disk, directory);
  RunJournal journal;
  if (found && ReadJournal(disk, *found, journal) &&
      station.panel->ShowMessage(
          Formatted(kResumeQuestionFormat, static_cast<long>(journal.info.equipmentNumber),
                    StepReached(journal).c_str()),
          device::MessageButtons::kOkCancel)) {
    run.info = journal.info;
    run.specialMain = journal.specialMain && !ImageLoaded(journal, kSpecialMainImage);
    // The loader asks with "S" at the start of a full sequence as well as before the main
    // programs: the record tells which, and the newboot goes in answer to it as it did then.
    if (run.start == SequenceStart::kSpecialMain && FirstUnloaded(journal) == kNewBootImage) {
      run.start = SequenceStart::kNewBoot;
    }
    run.restoreFollows = journal.restoreFollows;
    files::Bytes asFound;
    std::string why;
    if (files::ReadRegularFile(disk, *found, kJournalSizeLimit, asFound, why)) {
      run.unconfirmedRecord = std::move(asFound);
    }
    run.journal = JournalKeeper(disk, *found, std::move(journal));
    device::StoreGrade(station, run.info.grade);
    return;
  }
  station.panel->AppendLog(kNoRecordUsedLine);
}

// Passes everything on but the clearing of the log: an identification in the middle of a run
// keeps what the run has shown.
class KeepLog final : public device::PanelRelay {
 public:
  explicit KeepLog(device::OperatorPanel& inner) : PanelRelay(inner) {}
  void ClearLog() override {}
};

// The instrument a loader's request was answered for is asked its number once its new main
// runs, before the restore of the record touches its memory. Another instrument's record is put
// back as it was found.
bool ConfirmInstrument(device::Station& station, Run& run) {
  device::OperatorPanel* window = station.panel;
  KeepLog keep(*window);
  station.panel = &keep;
  device::DeviceInfo connected;
  const bool identified =
      device::Identify(station, connected) && station.statusText == device::kStatusOk;
  station.panel = window;
  const std::int32_t expected = run.info.equipmentNumber;
  if (identified && connected.equipmentNumber == expected) return true;
  const std::string name = run.journal.path().filename().string();
  const std::string text =
      Formatted(kOtherInstrumentFormat,
                identified ? EquipmentText(connected.equipmentNumber).c_str() : "not known",
                EquipmentText(expected).c_str(), name.c_str());
  window->AppendLog("\t" + text + "\r\n");
  window->ShowMessage(text, device::MessageButtons::kOk);
  std::string why;
  files::ReplaceContents(device::DiskOf(station), run.journal.path(), *run.unconfirmedRecord, why);
  run.journal = JournalKeeper();  // nothing more of this run goes into another's record
  return false;
}

// Before the first load: the record a stopped run is finished from. False when it cannot be
// written; nothing has reached the instrument then.
bool StartJournal(device::Station& station, const std::filesystem::path& directory, Run& run) {
  if (!run.journal.active()) {
    if (run.programMissing) return true;  // no number to name it by: the loader asks again
    RunJournal fresh;
    fresh.info = run.info;
    run.journal = JournalKeeper(device::DiskOf(station),
                                JournalPath(directory, run.info.equipmentNumber), fresh);
  }
  RunJournal& record = run.journal.record();
  record.images = SequenceImages(*run.start, run.specialMain);
  record.specialMain = run.specialMain;
  record.restoreFollows = run.restoreFollows;
  if (run.journal.Save()) return true;
  station.panel->ShowMessage(
      Formatted(kJournalUnwritableFormat, run.journal.path().filename().string().c_str()),
      device::MessageButtons::kOk);
  device::LogError(*station.panel, kUpdateStoppedText);
  return false;
}

// Before anything reaches the instrument the window learns which files the run will move, so
// that it can tell how far the whole run has come: the memory saved before a "QH" erase, the
// images in their order, then the restore's transfers.
void AnnounceTransfers(device::Station& station, const std::filesystem::path& imagesDirectory,
                       Run& run, bool backupFirst) {
  if (backupFirst) device::AnnounceTransfer(station, database::kDatabaseFileName, 0);
  if (run.start) {
    files::Disk& disk = device::DiskOf(station);
    for (const std::string& image : SequenceImages(*run.start, run.specialMain)) {
      const std::filesystem::path path = FindImageFile(disk, image, imagesDirectory);
      files::NameStatus status;
      std::string why;
      const bool known = disk.Status(path, status, why) && status.kind == files::EntryKind::kFile;
      device::AnnounceTransfer(station, path.filename().string(),
                               known ? static_cast<long>(status.size) : 0);
    }
  }
  if (run.restoreFollows) {
    AnnounceRestoreTransfers(
        station, run.journal.active() ? run.journal.record().restoreStage : RestoreStage::kPending);
  }
}

// Runs the chosen sequence, noting each loaded image in the journal; false when it stopped.
bool LoadImages(device::Station& station, const std::filesystem::path& imagesDirectory, Run& run) {
  const device::LoadingScope loading(station);
  const std::vector<std::string> images = SequenceImages(*run.start, run.specialMain);
  std::size_t loaded = 0;
  const bool done = RunSequence(station, station.portIndex, run.specialMain, imagesDirectory,
                                *run.start, [&](const std::string& image) {
                                  ++loaded;
                                  if (!run.journal.active()) return;
                                  run.journal.record().loaded.push_back(image);
                                  run.journal.Save();
                                });
  if (!done && device::StopRequested(station) && loaded < images.size()) {
    station.panel->AppendLog(Formatted(kStoppedDuringLoadFormat, images[loaded].c_str()));
  }
  return done;
}

// Every image a load will send is checked before anything reaches the instrument: a load that
// fails half-way leaves its loader waiting for a program. An outcome when one is refused.
std::optional<UpdateOutcome> Preflight(device::Station& station,
                                       const std::vector<std::string>& images,
                                       const std::filesystem::path& imagesDirectory) {
  switch (CheckImageSet(station, images, imagesDirectory)) {
    case PreflightOutcome::kReady:
      return std::nullopt;
    case PreflightOutcome::kRefused:
      device::LogError(*station.panel, kUpdateStoppedText);
      return UpdateOutcome::kStopped;
    case PreflightOutcome::kProgramEnded:
      break;
  }
  return UpdateOutcome::kCancelled;
}

// The instrument starts its own main once its loader took the boot or update program: it is
// identified again, trying for up to kOwnMainWaitMs. True when anything answered (its main, or
// its loader asking for the main program).
bool IdentifyOwnMain(device::Station& station, device::DeviceInfo& info) {
  device::OperatorPanel* window = station.panel;
  QuietTries quiet(*window);
  station.panel = &quiet;
  const std::uint32_t start = device::StationTick(station);
  bool answered = false;
  do {
    answered = device::Identify(station, info);
  } while (!answered && !device::StopRequested(station) &&
           device::StationTick(station) - start < static_cast<std::uint32_t>(kOwnMainWaitMs));
  station.panel = window;
  return answered;
}

// A loader that asks for its boot or update program gets it, and no more: no main goes over a
// memory whose layout the run has not learned. Once its own main runs, the instrument is
// identified and the run goes on as for any identified instrument; a loader that asks for the
// main program then is served as one. An outcome when the run ends here.
std::optional<UpdateOutcome> ServeLoaderPrograms(device::Station& station,
                                                 const std::filesystem::path& imagesDirectory,
                                                 Run& run, const WatchedRun& watched) {
  device::OperatorPanel& panel = *station.panel;
  if (auto refused = Preflight(station, LoaderProgramImages(*run.start), imagesDirectory)) {
    return *refused;
  }
  bool loaded = false;
  {
    const device::LoadingScope loading(station);
    loaded = RunLoaderPrograms(station, station.portIndex, imagesDirectory, *run.start);
  }
  if (watched.ended() || device::StopRequested(station)) return UpdateOutcome::kCancelled;
  if (!loaded) {
    device::LogError(panel, kUpdateStoppedText);
    return UpdateOutcome::kStopped;
  }
  panel.AppendLog(kOwnMainLine);
  const bool answered = IdentifyOwnMain(station, run.info);
  if (device::StopRequested(station)) return UpdateOutcome::kCancelled;
  const std::string status = station.statusText;
  run.start.reset();
  PlanMissingProgram(status, run);
  if (!answered || (run.start && *run.start != SequenceStart::kSpecialMain)) {
    const std::string text = answered
                                 ? Formatted(kLoaderAsksAgainFormat,
                                             *run.start == SequenceStart::kBoot ? "boot" : "update")
                                 : std::string(kOwnMainSilentText);
    panel.AppendLog("\t" + text + "\r\n");
    panel.ShowMessage(text, device::MessageButtons::kOk);
    return answered ? UpdateOutcome::kStopped : UpdateOutcome::kNoInstrument;
  }
  return std::nullopt;
}

// The plan of an instrument that told its versions: an open restore first, then the images
// compared with its programs. qhWarning tells whether the "QH" warning and erase come first.
std::optional<UpdateOutcome> PlanIdentified(device::Station& station,
                                            const std::filesystem::path& directory,
                                            const std::filesystem::path& imagesDirectory, Run& run,
                                            bool& qhWarning, const WatchedRun& watched) {
  // A restore an earlier run left open comes first: the memory may hold no other copy.
  switch (FinishOpenRestore(station, run.info, directory)) {
    case ResumeOutcome::kNone:
    case ResumeOutcome::kFinished:
      break;
    case ResumeOutcome::kDeclined:
      // An open restore left for later stops the run before anything is loaded: the memory may
      // be empty, with the surveys only in their backup.
      TellOpenRestoreLeft(station, directory, run.info);
      return device::StopRequested(station) ? UpdateOutcome::kCancelled
                                            : UpdateOutcome::kRestoreIncomplete;
    case ResumeOutcome::kIncomplete:
      if (watched.ended()) return UpdateOutcome::kCancelled;
      return UpdateOutcome::kRestoreIncomplete;
  }
  if (watched.ended() || device::StopRequested(station)) return UpdateOutcome::kCancelled;
  // The grade outlives the run: the database restore and a later run read it.
  device::StoreGrade(station, run.info.grade);
  if (!ReadImageVersions(station, run.images, imagesDirectory)) return UpdateOutcome::kCancelled;
  run.plan = DecideLoads(run.info, run.images);
  run.start = ChooseSequence(run.plan);
  if (run.info.mainVersion <= kSpecialMainLimit) {
    const std::string& grade = run.info.grade;
    run.specialMain = grade == kGradeQ || grade == kGradeQN;
    qhWarning = grade == kGradeQH;
  }
  // The restore erases the memory: it follows only a new-layout main that this run loads, not
  // a plan (boot and main newer, update not) under which nothing is loaded and the old main
  // runs on.
  run.restoreFollows = run.start.has_value() && IsNewLayoutMain(run.images.mainVersion) &&
                       run.info.mainVersion <= kOldLayoutLimit;
  return std::nullopt;
}

// Before anything reaches the instrument: every image of the sequence checked (a load that fails
// half-way leaves its loader waiting for a program) and the warnings answered.
std::optional<UpdateOutcome> Confirm(device::Station& station,
                                     const std::filesystem::path& imagesDirectory, const Run& run,
                                     bool qhWarning) {
  device::OperatorPanel& panel = *station.panel;
  if (run.start) {
    auto refused = Preflight(station, SequenceImages(*run.start, run.specialMain), imagesDirectory);
    if (refused) return *refused;
  }
  // A "QH" instrument must have an empty memory before its old main is replaced.
  if (qhWarning && !panel.ShowMessage(kQhWarningText, device::MessageButtons::kOkCancel)) {
    return UpdateOutcome::kCancelled;
  }
  const bool newLayout =
      IsNewLayoutMain(run.images.mainVersion) && run.info.mainVersion <= kOldLayoutLimit;
  if (!run.programMissing && newLayout && station.grade == kGradeQ &&
      !panel.ShowMessage(kQWarningText, device::MessageButtons::kOkCancel)) {
    panel.ExitProgram(kCancelledExitCode);
    return UpdateOutcome::kCancelled;
  }
  return std::nullopt;
}

// The "QH" warning asks for an empty memory: what it holds is saved, then erased, and the erase
// proven before any image goes in.
std::optional<UpdateOutcome> EraseBeforeLoads(device::Station& station,
                                              const std::filesystem::path& directory, Run& run,
                                              const WatchedRun& watched) {
  FileFacts kept;
  if (!BackupBeforeErase(station, station.portIndex, directory, run.info.equipmentNumber, &kept)) {
    run.journal.Remove();  // nothing loaded: no run to finish
    return UpdateOutcome::kCancelled;
  }
  const EraseOutcome erased =
      EraseAndProve(station, station.portIndex, directory, run.info.equipmentNumber, false,
                    kept.name.empty() ? nullptr : &kept);
  if (watched.ended() || device::StopRequested(station)) return UpdateOutcome::kCancelled;
  switch (erased) {
    case EraseOutcome::kErased:
      return std::nullopt;
    case EraseOutcome::kNoInstrument:
      return UpdateOutcome::kNoInstrument;
    case EraseOutcome::kNotTaken:
    case EraseOutcome::kNotProven:
      break;
  }
  return UpdateOutcome::kRestoreIncomplete;
}

// The database restore after the new main, and what is left of the journal.
UpdateOutcome RestoreAndClose(device::Station& station, const std::filesystem::path& directory,
                              Run& run, const WatchedRun& watched) {
  device::OperatorPanel& panel = *station.panel;
  UpdateOutcome outcome = UpdateOutcome::kDone;
  if (run.restoreFollows) {
    std::function<bool()> confirm;
    if (run.unconfirmedRecord) {
      confirm = [&station, &run] { return ConfirmInstrument(station, run); };
    }
    if (!RunDatabaseRestore(station, station.portIndex, run.info, directory,
                            run.journal.active() ? &run.journal : nullptr,
                            RestoreEntry::kAfterNewMain, confirm)) {
      outcome = UpdateOutcome::kRestoreIncomplete;
    }
    if (watched.ended()) return UpdateOutcome::kCancelled;
  }
  if (outcome == UpdateOutcome::kDone) {
    run.journal.Remove();
  } else if (device::StopRequested(station) && run.journal.active()) {
    panel.AppendLog(
        Formatted(kStoppedDuringRestoreFormat, run.journal.path().filename().string().c_str()));
  }
  return outcome;
}

}  // namespace

bool IsNewLayoutMain(float imageMainVersion) {
  return std::bit_cast<std::uint32_t>(imageMainVersion) == kNewLayoutMainBits;
}

UpdatePlan DecideLoads(const device::DeviceInfo& info, const ImageVersions& images) {
  UpdatePlan plan;
  plan.loadBoot = images.bootVersion > info.bootVersion || IsBogus(info.bootVersion);
  plan.loadUpdate = images.updateVersion > info.updateVersion || IsBogus(info.updateVersion);
  // The instrument's build is an unsigned count; the image's build stamp is a float.
  const auto deviceBuild = static_cast<float>(static_cast<std::uint32_t>(info.build));
  plan.loadMain = images.mainVersion > info.mainVersion || IsBogus(info.mainVersion) ||
                  (images.mainVersion == info.mainVersion && deviceBuild < images.mainBuild);
  return plan;
}

UpdateOutcome OnMakeUpdate(device::Station& station, const std::filesystem::path& directory) {
  return OnMakeUpdate(station, directory, directory);
}

UpdateOutcome OnMakeUpdate(device::Station& station, const std::filesystem::path& directory,
                           const std::filesystem::path& imagesDirectory,
                           const device::DeviceInfo* identified) {
  WatchedRun watched(station);
  device::OperatorPanel& panel = *station.panel;
  Run run;

  // One run owns the folder: its saved database, backups and journal never mix with another's.
  const std::optional<files::FolderLock> folder = TakeFolder(station, directory);
  if (!folder) return UpdateOutcome::kFolderBusy;
  if (identified != nullptr) {
    run.info = *identified;
  } else if (!IdentifyForOpenRun(station, directory, run.info)) {
    device::ShowNoInfo(station);
    return UpdateOutcome::kNoInstrument;
  }
  PlanMissingProgram(station.statusText, run);
  // A journal that cannot be read, or another instrument's, may hold the only word of where an
  // erased memory's surveys are: nothing is loaded or erased past it.
  const bool loaderPrograms = run.programMissing && *run.start != SequenceStart::kSpecialMain;
  if (loaderPrograms) {
    if (!JournalsAllowRun(station, directory, std::nullopt)) {
      return UpdateOutcome::kRestoreIncomplete;
    }
    if (auto ended = ServeLoaderPrograms(station, imagesDirectory, run, watched)) return *ended;
  }
  const std::optional<std::int32_t> connected =
      run.programMissing ? std::nullopt : std::optional<std::int32_t>(run.info.equipmentNumber);
  if (!JournalsAllowRun(station, directory, connected, loaderPrograms)) {
    return UpdateOutcome::kRestoreIncomplete;
  }

  bool qhWarning = false;
  if (run.programMissing) {
    ResumeFromJournal(station, directory, run);
  } else if (auto ended =
                 PlanIdentified(station, directory, imagesDirectory, run, qhWarning, watched)) {
    return *ended;
  }
  if (auto ended = Confirm(station, imagesDirectory, run, qhWarning)) return *ended;

  if (run.start && !StartJournal(station, directory, run)) return UpdateOutcome::kStopped;
  AnnounceTransfers(station, imagesDirectory, run, qhWarning);
  if (qhWarning) {
    if (auto ended = EraseBeforeLoads(station, directory, run, watched)) return *ended;
  }

  if (!run.plan.loadBoot && !run.plan.loadUpdate && !run.plan.loadMain && !run.programMissing) {
    device::LogSection(panel, kUpToDateText);
  } else if (!run.start) {
    TellNothingLoaded(panel, run.plan);
  }
  if (run.start && !LoadImages(station, imagesDirectory, run)) {
    if (watched.ended()) return UpdateOutcome::kCancelled;
    device::LogError(panel, kUpdateStoppedText);
    return UpdateOutcome::kStopped;
  }
  if (watched.ended()) return UpdateOutcome::kCancelled;

  const UpdateOutcome outcome = RestoreAndClose(station, directory, run, watched);
  // The window is closing after a stop: no box stands in its way.
  if (outcome == UpdateOutcome::kCancelled || device::StopRequested(station)) return outcome;

  panel.ShowMessage(kRestartText, device::MessageButtons::kOk);
  device::ShortPause();
  panel.SetProgress(device::kProgressIdle);
  return outcome;
}

}  // namespace zephor::update
