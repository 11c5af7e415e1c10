// The planner: one run from the identification to the restart message.
#include "update/update_planner.h"

#include <bit>
#include <string>
#include <string_view>

#include "device/command_link.h"
#include "device/erase.h"
#include "device/identify.h"
#include "device/info_report.h"
#include "update/database_restore.h"
#include "update/update_sequences.h"

namespace zephor::update {
namespace {

constexpr char kGradeQ[] = "Q";
constexpr char kGradeQN[] = "QN";
constexpr char kGradeQH[] = "QH";
constexpr std::size_t kStoredGradeLetters = 2;

bool IsBogus(float version) { return static_cast<double>(version) >= kBogusVersion; }

// Passes everything on to the window and notes when an operation ended the program, so that
// the run stops at once instead of going on to its next step.
class ExitWatch final : public device::OperatorPanel {
 public:
  explicit ExitWatch(device::OperatorPanel& inner) : inner_(inner) {}
  void AppendLog(std::string_view text) override { inner_.AppendLog(text); }
  void ClearLog() override { inner_.ClearLog(); }
  void SetProgress(int position) override { inner_.SetProgress(position); }
  void SetProgressRange(int low, int high) override { inner_.SetProgressRange(low, high); }
  bool ShowMessage(std::string_view text, device::MessageButtons buttons) override {
    return inner_.ShowMessage(text, buttons);
  }
  void ExitProgram(int code) override {
    ended_ = true;
    inner_.ExitProgram(code);
  }
  bool ended() const { return ended_; }

 private:
  device::OperatorPanel& inner_;
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
  bool mainLoaded = false;  // a sequence loaded main.bin in this run
  ImageVersions images;
};

// A loader that asked for a program names the one flag to set.
void PlanMissingProgram(const std::string& statusText, Run& run) {
  if (statusText == device::kStatusNoBoot) run.plan.loadBoot = true;
  if (statusText == device::kStatusNoUpdate) run.plan.loadUpdate = true;
  if (statusText == device::kStatusNoMain) run.plan.loadMain = true;
  run.programMissing = run.plan.loadBoot || run.plan.loadUpdate || run.plan.loadMain;
}

// One sequence at most; false when the one that ran failed.
bool RunSequence(device::Station& station, const std::filesystem::path& directory, Run& run) {
  UpdatePlan& plan = run.plan;
  const int port = station.portIndex;
  if (plan.loadBoot && plan.loadUpdate && plan.loadMain) {
    if (!RunFullUpdate(station, port, run.specialMain, directory)) return false;
    plan = {};
    run.mainLoaded = true;
  } else if (!plan.loadBoot && plan.loadUpdate && plan.loadMain) {
    if (!RunUpdateAndMain(station, port, run.specialMain, directory)) return false;
    plan = {};
    run.mainLoaded = true;
  } else if (!plan.loadBoot && !plan.loadUpdate && plan.loadMain) {
    if (!RunMainOnly(station, port, run.specialMain, directory)) return false;
    plan = {};
    run.mainLoaded = true;
  }
  return true;
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

void OnMakeUpdate(device::Station& station, const std::filesystem::path& directory) {
  WatchedRun watched(station);
  device::OperatorPanel& panel = *station.panel;
  Run run;

  if (!device::Identify(station, run.info)) {
    device::ShowNoInfo(station);
    return;
  }
  PlanMissingProgram(station.statusText, run);

  if (!run.programMissing) {
    // The grade outlives the run: the database restore and a later run read it.
    station.grade = run.info.grade.substr(0, kStoredGradeLetters);
    if (!ReadImageVersions(station, run.images, directory)) return;
    run.plan = DecideLoads(run.info, run.images);

    if (run.info.mainVersion <= kSpecialMainLimit) {
      const std::string& grade = run.info.grade;
      if (grade == kGradeQ || grade == kGradeQN) {
        run.specialMain = true;
      } else if (grade == kGradeQH) {
        // A "QH" instrument must have an empty memory before its old main is replaced.
        if (!panel.ShowMessage(kQhWarningText, device::MessageButtons::kOkCancel)) return;
        device::EraseLogger(station, false);
        if (watched.ended()) return;
      }
    }
  }

  const bool newLayout =
      IsNewLayoutMain(run.images.mainVersion) && run.info.mainVersion <= kOldLayoutLimit;
  if (newLayout && station.grade == kGradeQ &&
      !panel.ShowMessage(kQWarningText, device::MessageButtons::kOkCancel)) {
    panel.ExitProgram(kCancelledExitCode);
    return;
  }

  if (!run.plan.loadBoot && !run.plan.loadUpdate && !run.plan.loadMain) {
    device::LogSection(panel, kUpToDateText);
  }
  if (!RunSequence(station, directory, run)) {
    if (watched.ended()) return;
    device::LogError(panel, kUpdateStoppedText);
    return;
  }
  if (watched.ended()) return;

  // The restore erases the memory: it follows only a new-layout main that this run loaded, not a
  // plan (boot and main newer, update not) under which nothing was loaded and the old main runs on.
  if (newLayout && run.mainLoaded) {
    RunDatabaseRestore(station, station.portIndex, run.info, directory);
    if (watched.ended()) return;
  }

  panel.ShowMessage(kRestartText, device::MessageButtons::kOk);
  device::ShortPause();
  panel.SetProgress(device::kProgressIdle);
}

}  // namespace zephor::update
