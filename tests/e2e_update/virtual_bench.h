// Make Update and the restore as `zephor update --yes` and `zephor restore --yes` run them (the
// terminal's view with its preset answers and transfer summaries), against the simulated
// instrument in this process on one virtual clock: a 15-second READY try costs microseconds.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <utility>

#include "app/console_view.h"
#include "app/progress_line.h"
#include "app/updater.h"
#include "device/identify.h"
#include "device/info_report.h"
#include "sim/in_process.h"
#include "update/database_restore.h"
#include "update/measurement_backup.h"
#include "update/restore_resume.h"
#include "update/update_planner.h"

namespace zephor::update {

// The outcomes by name where a check on them fails.
inline void PrintTo(UpdateOutcome outcome, std::ostream* out) {
  constexpr const char* kNames[] = {"kDone", "kNoInstrument", "kCancelled", "kStopped",
                                    "kRestoreIncomplete"};
  *out << kNames[static_cast<int>(outcome)];
}

inline void PrintTo(ResumeOutcome outcome, std::ostream* out) {
  constexpr const char* kNames[] = {"kNone", "kFinished", "kDeclined", "kIncomplete"};
  *out << kNames[static_cast<int>(outcome)];
}

}  // namespace zephor::update

namespace zephor::e2e {

using update::kEraseAnywayQuestion;
using update::kKeepWaitingQuestion;
using update::kRestartText;
using update::ResumeOutcome;
using update::UpdateOutcome;

// The command line's default for --ready-minutes.
inline constexpr int kReadyMinutes = 10;
// The time from the end of one run to the start of the next.
inline constexpr std::uint32_t kBetweenRunsMs = 1000;

class VirtualBench {
 public:
  explicit VirtualBench(std::filesystem::path folder) : folder_(std::move(folder)) {}

  // The instrument, switched on; it keeps its state from one run to the next.
  void Start(sim::InstrumentState state, const sim::FaultSet& faults = {},
             sim::FirmwareTiming timing = {}) {
    instrument_ = std::make_unique<sim::InProcessInstrument>(std::move(state), faults, 0, timing);
    instrument_->model().SetCommandLog([this](const std::string& line) {
      simLog_ += line + "\n";
      // The interrupt comes as the instrument logs the line, as a signal would after it.
      if (running_ != nullptr && !stopAt_.empty() && line.find(stopAt_) != std::string::npos) {
        stopAt_.clear();
        running_->StopForSignal();
      }
    });
  }

  // The next run is stopped as by Ctrl-C once the instrument logs a line holding text.
  void StopWhenLogged(std::string text) { stopAt_ = std::move(text); }

  // zephor update --yes (or --no): the planner's outcome, which the command line's exit code
  // tells one to one.
  UpdateOutcome Update(app::ConsoleAnswer answer = app::ConsoleAnswer::kOk) {
    UpdateOutcome outcome = UpdateOutcome::kStopped;
    Run(answer, [&](app::Updater& u) { outcome = update::OnMakeUpdate(u.station(), folder_); });
    return outcome;
  }

  // zephor restore --yes: identify, then only the restore an earlier run left open.
  ResumeOutcome Restore() {
    ResumeOutcome outcome = ResumeOutcome::kNone;
    Run(app::ConsoleAnswer::kOk, [&](app::Updater& u) {
      device::DeviceInfo info;
      if (!device::Identify(u.station(), info) || u.station().statusText != device::kStatusOk) {
        device::ShowNoInfo(u.station());
        return;
      }
      outcome = update::FinishOpenRestore(u.station(), info, folder_);
      if (outcome == ResumeOutcome::kFinished) {
        u.ShowMessage(kRestartText, device::MessageButtons::kOk);
      }
    });
    return outcome;
  }

  // What the last run printed: its log, its boxes and a summary line per transfer.
  const std::string& printed() const { return printed_; }
  // Every line the instrument logged so far, each ending in a line feed.
  const std::string& simLog() const { return simLog_; }
  const sim::InstrumentState& state() const { return instrument_->model().state(); }
  // The instrument back at work between two runs.
  void RecordSurveys(std::vector<std::uint8_t> memory) {
    instrument_->model().RecordSurveys(std::move(memory));
  }

 private:
  void Run(app::ConsoleAnswer answer, const std::function<void(app::Updater&)>& operation) {
    std::ostringstream out;
    std::istringstream nothingTyped;
    serial::VirtualTiming& timing = instrument_->timing();
    app::ProgressLine line(out, false, [&timing] { return timing.TickMs(); });
    app::ConsoleView view(out, out, nothingTyped, answer);
    view.SetProgressSink(&line);
    // As the command line answers them: an erase without a backup only with its own flag, and
    // the question after each minute without READY OK until the minutes are up.
    view.AnswerFor(kEraseAnywayQuestion, answer == app::ConsoleAnswer::kAsk
                                             ? app::ConsoleAnswer::kAsk
                                             : app::ConsoleAnswer::kCancel);
    view.AnswerFor(kKeepWaitingQuestion, answer, kReadyMinutes - 1);
    app::Updater updater(view, instrument_->environment().factory, &timing, nullptr);
    running_ = &updater;
    updater.RunOperation([&] { operation(updater); });
    running_ = nullptr;
    printed_ = out.str();
    // The instrument runs on between two runs and takes what is left on the line.
    instrument_->timing().Advance(kBetweenRunsMs);
  }

  std::filesystem::path folder_;
  std::unique_ptr<sim::InProcessInstrument> instrument_;
  app::Updater* running_ = nullptr;
  std::string stopAt_;
  std::string printed_;
  std::string simLog_;
};

}  // namespace zephor::e2e
