#include "app/window_progress.h"

#include <algorithm>
#include <cstdio>

#include "app/progress_units.h"

namespace zephor::app {
namespace {

constexpr int kDigitsPerGroup = 3;

// 12288 as "12 288": long counts are read at a glance.
std::string Grouped(long value) {
  const std::string digits = std::to_string(value);
  std::string grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    const std::size_t left = digits.size() - i;
    if (i > 0 && digits[i - 1] != '-' && left % kDigitsPerGroup == 0) grouped.push_back(' ');
    grouped.push_back(digits[i]);
  }
  return grouped;
}

// 17 s as "0:17", 75 s as "1:15".
std::string MinutesAndSeconds(long seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", seconds / kSecondsPerMinute,
                seconds % kSecondsPerMinute);
  return text;
}

std::string TransferStatus(const ProgressTracker& tracker, std::uint32_t now) {
  const device::ProgressEvent& transfer = tracker.transfer();
  std::string text = (transfer.sending ? "Sending " : "Receiving ") + transfer.subject + ": ";
  const int percent = tracker.Percent();
  if (percent < 0) {
    text += Grouped(transfer.bytes) + " bytes";
  } else if (transfer.sending) {
    const long blocks = (transfer.totalBytes + kBlockBytes - 1) / kBlockBytes;
    text += Grouped(transfer.bytes / kBlockBytes) + " of " + Grouped(blocks) + " blocks, " +
            std::to_string(percent) + " %";
  } else {
    text += Grouped(transfer.bytes) + " of " + Grouped(transfer.totalBytes) + " bytes, " +
            std::to_string(percent) + " %";
  }
  // A stalled line has no rate worth showing: how long it has been quiet says more.
  if (const std::uint32_t quiet = tracker.QuietMs(now); quiet > 0) {
    return text + ". Line quiet for " + std::to_string(quiet / kMsPerSecond) + " s";
  }
  if (const long rate = tracker.BytesPerSecond(now); rate > 0) {
    text += ", " + std::to_string(rate) + " B/s";
  }
  if (const long left = tracker.SecondsLeft(now); left >= 0) {
    text += ", about " + MinutesAndSeconds(left) + " left";
  }
  return text;
}

}  // namespace

std::string StatusText(const ProgressTracker& tracker, std::uint32_t now) {
  switch (tracker.activity()) {
    case Activity::kTransfer:
      return TransferStatus(tracker, now);
    case Activity::kWait:
      return "Waiting for " + tracker.wait().subject + ": " +
             std::to_string(tracker.WaitedMs(now) / kMsPerSecond) + " s";
    case Activity::kIdle:
      break;
  }
  const device::ProgressEvent* ended = tracker.ended();
  return ended != nullptr ? TransferSummary(*ended, tracker.transferStartedAt()) : std::string();
}

std::string Caption(int runPercent) {
  if (runPercent == kNoRunPercent) return kMainCaption;
  return std::string(kMainCaption) + " - " + std::to_string(runPercent) + " %";
}

void WindowProgress::OperationStarted() {
  tracker_.Reset();
  run_.Reset();
  movedFile_ = false;
  Redraw(true);
}

void WindowProgress::OperationEnded(std::optional<bool> failed) {
  tracker_.Reset();
  run_.Reset();
  low_ = kBarLow;
  high_ = kBarHigh;
  position_ = 0;
  movedFile_ = false;
  Redraw(true);
  if (taskbar_ != nullptr && failed.has_value()) taskbar_->ShowEnd(*failed);
}

void WindowProgress::Take(const device::ProgressEvent& event) {
  if (event.kind == device::ProgressKind::kTransferStart) movedFile_ = true;
  run_.Take(event);
  Redraw(tracker_.Take(event));
}

void WindowProgress::SetProgressRange(int low, int high) {
  low_ = low;
  high_ = high;
}

void WindowProgress::SetProgress(int position) {
  position_ = position;
  // Once a file moved the operation's positions are not shown (see the header).
  if (!movedFile_) Redraw(true);
}

void WindowProgress::Tick() {
  if (tracker_.activity() != Activity::kIdle) Redraw(false);
}

int WindowProgress::BarPercent() const {
  if (tracker_.activity() == Activity::kTransfer) return std::max(0, tracker_.Percent());
  if (movedFile_ || position_ < low_ || high_ <= 0) return 0;
  return static_cast<int>(std::min(kPercent, static_cast<long>(position_) * kPercent / high_));
}

void WindowProgress::Redraw(bool force) {
  const std::uint32_t now = clock_();
  if (!force && now - drawnAt_ < kRedrawEveryMs) return;
  drawnAt_ = now;
  // The three are drawn together, so that the bar and the title never disagree with the line;
  // the line comes last, once the other two show what it says.
  // The first drawing draws all three, whatever the window started with.
  const bool all = !drawn_;
  drawn_ = true;
  const int bar = BarPercent();
  if (all || bar != bar_) {
    bar_ = bar;
    view_.SetProgress(bar_);
  }
  const int runPercent = run_.percent();
  if (all || runPercent != runPercent_) {
    runPercent_ = runPercent;
    view_.ShowCaption(Caption(runPercent_));
    if (taskbar_ != nullptr && runPercent_ != kNoRunPercent) taskbar_->ShowPercent(runPercent_);
  }
  const std::string status = StatusText(tracker_, now);
  if (all || status != status_) {
    status_ = status;
    view_.ShowStatus(status_);
  }
}

}  // namespace zephor::app
