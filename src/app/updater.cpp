// The updater: every log line and message box also goes to standard error, the log keeps its
// newest mebibyte, and one operation runs at a time.
#include "app/updater.h"

#include "device/info_report.h"
#include "update/update_planner.h"

namespace zephor::app {

Updater::Updater(UpdaterView& view, serial::PortFactory* factory, serial::Timing* timing,
                 std::ostream* errorCopy)
    : view_(view),
      timing_(timing),
      progress_(view, [this] { return timing_.TickMs(); }),
      errorCopy_(errorCopy) {
  // The status line counts a wait's seconds while nothing else happens.
  timing_.SetChore([this] { progress_.Tick(); });
  station_.ports.factory = factory;
  station_.ports.timing = &timing_;
  station_.panel = this;
  station_.portIndex = 0;  // every start begins at COM1
}

void Updater::CopyToError(std::string_view text, bool endLine) {
  if (errorCopy_ == nullptr) return;
  *errorCopy_ << text;
  if (endLine && (text.empty() || text.back() != '\n')) *errorCopy_ << '\n';
  errorCopy_->flush();
}

void Updater::AppendLog(std::string_view text) {
  CopyToError(text, false);
  log_.append(text);
  if (log_.size() <= kLogCapBytes) {
    view_.AppendLog(text);
    return;
  }
  TrimLog();
  view_.SetLog(log_);
}

void Updater::TrimLog() {
  // Drop the oldest text so that what stays starts at the beginning of a line; a single line
  // longer than the cap is cut where the cap falls.
  const std::size_t firstKept = log_.size() - (kLogCapBytes - kLogTrimSlack);
  std::size_t cut = firstKept;
  if (log_[firstKept - 1] != '\n') {
    const std::size_t lineEnd = log_.find('\n', firstKept);
    if (lineEnd != std::string::npos && lineEnd + 1 < log_.size()) cut = lineEnd + 1;
  }
  log_.erase(0, cut);
}

void Updater::ClearLog() {
  log_.clear();
  view_.ClearLog();
}

void Updater::SetProgress(int position) { progress_.SetProgress(position); }

void Updater::SetProgressRange(int low, int high) { progress_.SetProgressRange(low, high); }

void Updater::ReportProgress(const device::ProgressEvent& event) {
  view_.ShowProgress(event);
  progress_.Take(event);
}

bool Updater::ShowMessage(std::string_view text, device::MessageButtons buttons) {
  CopyToError(text, true);
  return view_.ShowMessage(text, buttons);
}

void Updater::ExitProgram(int code) {
  // Whatever still waits on the line ends at once; the window ends when control returns to it.
  timing_.RequestStop();
  exited_ = true;
  view_.Exit(code);
}

bool Updater::RunOperation(const std::function<void()>& operation) {
  // The waits of an operation keep the window live, so a button can be pressed again from
  // inside it; a nested operation on the same station is never started.
  if (busy_) return false;
  busy_ = true;
  runFailed_.reset();
  progress_.OperationStarted();
  operation();
  progress_.OperationEnded(runFailed_);
  busy_ = false;
  if (closeRequested_ && !exited_) {
    exited_ = true;
    view_.Exit(kExitNormal);
  }
  return true;
}

void Updater::OnInfo() {
  RunOperation([this] { device::OnInfo(station_); });
}

void Updater::OnComPortSetup() {
  RunOperation([this] {
    int chosen = station_.portIndex;
    if (view_.ChoosePort(chosen)) station_.portIndex = chosen;
  });
}

void Updater::OnMakeUpdate() {
  RunOperation([this] {
    const update::UpdateOutcome outcome = update::OnMakeUpdate(station_);
    // A Cancel answered to a warning is the operator's choice, not a failure.
    runFailed_ = outcome == update::UpdateOutcome::kNoInstrument ||
                 outcome == update::UpdateOutcome::kStopped ||
                 outcome == update::UpdateOutcome::kRestoreIncomplete;
  });
}

void Updater::RequestClose() {
  if (busy_ && station_.loading) {
    // A second Esc while the question is open is the same question.
    if (askingToStop_ || closeRequested_) return;
    askingToStop_ = true;
    const bool stop = ShowMessage(kStopLoadQuestion, device::MessageButtons::kOkCancel);
    askingToStop_ = false;
    if (!stop) return;
  }
  StopForSignal();
}

void Updater::StopForSignal() {
  closeRequested_ = true;
  if (busy_) {
    timing_.RequestStop();
    return;
  }
  if (!exited_) {
    exited_ = true;
    view_.Exit(kExitNormal);
  }
}

}  // namespace zephor::app
