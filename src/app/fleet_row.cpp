// Rates and times left come from the run's own ticks for transfers, and from the watcher's clock
// for waits, which the run reports only at their start and end.
#include "app/fleet_row.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

#include "app/exit_codes.h"
#include "update/image_files.h"
#include "update/update_planner.h"

namespace zephor::app {
namespace {

constexpr std::array kImageNames{update::kNewBootImage, update::kBootImage, update::kUpdateImage,
                                 update::kSpecialMainImage, update::kMainImage};

bool IsImage(const std::string& name) {
  return std::find(kImageNames.begin(), kImageNames.end(), name) != kImageNames.end();
}

// A log line without its tab and line end; a frame of dashes is no news.
std::string LogWords(const std::string& text) {
  const std::size_t first = text.find_first_not_of("\t ");
  const std::size_t last = text.find_last_not_of("\r\n ");
  if (first == std::string::npos || last == std::string::npos || last < first) return {};
  std::string words = text.substr(first, last - first + 1);
  return words.find_first_not_of('-') == std::string::npos ? std::string() : words;
}

}  // namespace

FleetRow::FleetRow(std::string port, std::string equipment, std::filesystem::path folder)
    : port(std::move(port)), equipment(std::move(equipment)), folder(std::move(folder)) {}

std::string FleetRow::Name() const {
  return "ZEPHOR " + (equipment.empty() ? std::string() : equipment + " ") + "on " + port;
}

void FleetRow::Apply(const RunEvent& event, std::uint32_t nowMs) {
  using device::ProgressKind;
  switch (event.kind) {
    case RunEvent::Kind::kLog: {
      const std::string words = LogWords(event.text);
      if (words.empty()) return;
      note = words;
      if (tracker_.activity() == Activity::kIdle) step_ = words;
      return;
    }
    case RunEvent::Kind::kMessage:
    case RunEvent::Kind::kText:
      // The restart message ends every run, whatever its outcome: it is no last word.
      if (!event.text.empty() && event.text != update::kRestartText) note = event.text;
      return;
    case RunEvent::Kind::kProgress:
      break;
  }
  device::ProgressEvent progress = event.progress;
  summaryLine_.Show(progress);
  switch (progress.kind) {
    case ProgressKind::kTransferStart:
      step_ = progress.subject;
      lastStepTick_ = progress.tickMs;
      break;
    case ProgressKind::kTransferStep:
      lastStepTick_ = progress.tickMs;
      break;
    case ProgressKind::kTransferEnd:
      if (progress.sending && progress.result > 0 && IsImage(progress.subject)) {
        imagesLoaded.push_back(progress.subject);
      }
      break;
    case ProgressKind::kWaitStart:
      step_ = "waiting for " + progress.subject;
      // The run reports a wait only at its start and end: it is counted down on this clock.
      progress.tickMs = nowMs;
      break;
    case ProgressKind::kWaitEnd:
    case ProgressKind::kTransferPlanned:
      break;
  }
  tracker_.Take(progress);
}

std::string FleetRow::TakeSummaries() {
  std::string text = summaries_.str();
  summaries_.str({});
  return text;
}

void FleetRow::Finish(int code) {
  exitCode = code;
  finished_ = true;
  tracker_.Reset();
}

std::vector<std::string> FleetRow::Cells(std::uint32_t nowMs) const {
  std::string done, rate, left;
  if (tracker_.activity() == Activity::kTransfer) {
    // Rates on the run's own clock, up to the last step it reported.
    const int percent = tracker_.Percent();
    done = percent >= 0 ? std::to_string(percent) + " %"
                        : std::to_string(tracker_.transfer().bytes) + " B";
    const long perSecond = tracker_.BytesPerSecond(lastStepTick_);
    if (perSecond > 0) rate = std::to_string(perSecond) + " B/s";
    const long secondsLeft = tracker_.SecondsLeft(lastStepTick_);
    if (secondsLeft >= 0) left = DurationText(secondsLeft);
  } else if (tracker_.activity() == Activity::kWait) {
    const std::uint32_t leftMs = tracker_.WaitLeftMs(nowMs);
    left = DurationText(static_cast<long>((leftMs + kMsPerSecond - 1) / kMsPerSecond));
  }
  const std::string result = finished_ ? FleetResultText(exitCode) : std::string();
  return {port,
          equipment.empty() ? "?" : equipment,
          finished_ ? std::string() : step_,
          done,
          rate,
          left,
          result};
}

std::string FleetResultText(int exitCode) {
  switch (exitCode) {
    case kExitDone:
      return "done";
    case kExitCancelled:
      return "cancelled";
    case kExitBadUsage:
      return "bad usage";
    case kExitNoInstrument:
      return "no instrument";
    case kExitUpdateStopped:
      return "update stopped";
    case kExitRestoreIncomplete:
      return "needs a decision: surveys safe";
    case kExitFolderBusy:
      return "refused or held";
    default:
      break;
  }
  if (exitCode > kExitSignalBase) {
    return "stopped by signal " + std::to_string(exitCode - kExitSignalBase);
  }
  return "ended with " + std::to_string(exitCode);
}

}  // namespace zephor::app
