#include "app/progress_line.h"

#include <cstdio>

#include "app/progress_units.h"

namespace zephor::app {
namespace {

// Returns the cursor to the line's start and wipes the line.
constexpr char kWipeLine[] = "\r\033[K";

}  // namespace

std::string DurationText(long seconds) {
  char text[32];
  if (seconds >= kSecondsPerMinute) {
    std::snprintf(text, sizeof text, "%ld min %02ld s", seconds / kSecondsPerMinute,
                  seconds % kSecondsPerMinute);
  } else {
    std::snprintf(text, sizeof text, "%ld s", seconds);
  }
  return text;
}

void ProgressLine::Show(const device::ProgressEvent& event) {
  using device::ProgressKind;
  const bool changed = tracker_.Take(event);
  switch (event.kind) {
    case ProgressKind::kTransferStart:
      DrawTransfer(event.tickMs, true);
      break;
    case ProgressKind::kTransferStep:
      if (tracker_.activity() == Activity::kTransfer) DrawTransfer(event.tickMs, false);
      break;
    case ProgressKind::kTransferEnd:
      MakeWay();
      out_ << TransferSummary(event, tracker_.transferStartedAt()) << "\n";
      out_.flush();
      break;
    case ProgressKind::kWaitStart:
      if (!changed) break;
      shownSecondsLeft_ = -1;
      DrawWait(event.tickMs, true);
      break;
    case ProgressKind::kWaitEnd:
      if (changed) MakeWay();
      break;
    case ProgressKind::kTransferPlanned:
      break;
  }
}

void ProgressLine::MakeWay() {
  if (!drawn_) return;
  out_ << kWipeLine;
  out_.flush();
  drawn_ = false;
}

void ProgressLine::Tick() {
  if (!live_) return;
  switch (tracker_.activity()) {
    case Activity::kTransfer:
      DrawTransfer(clock_(), false);
      break;
    case Activity::kWait:
      DrawWait(clock_(), false);
      break;
    case Activity::kIdle:
      break;
  }
}

void ProgressLine::Draw(const std::string& text, std::uint32_t now, bool force) {
  if (!live_) return;
  if (!force && drawn_ && now - drawnAt_ < kRedrawEveryMs) return;
  out_ << kWipeLine << text;
  out_.flush();
  drawn_ = true;
  drawnAt_ = now;
}

void ProgressLine::DrawTransfer(std::uint32_t now, bool force) {
  const device::ProgressEvent& transfer = tracker_.transfer();
  const long rate = tracker_.BytesPerSecond(now);
  const int percent = tracker_.Percent();
  std::string text = transfer.subject + ": ";
  char part[128];
  if (percent < 0) {
    std::snprintf(part, sizeof part, "%ld bytes received, %ld B/s", transfer.bytes, rate);
  } else if (transfer.sending) {
    const long blocks = (transfer.totalBytes + kBlockBytes - 1) / kBlockBytes;
    std::snprintf(part, sizeof part, "block %ld of %ld, %d %%, %ld B/s",
                  transfer.bytes / kBlockBytes, blocks, percent, rate);
  } else {
    std::snprintf(part, sizeof part, "%ld of %ld bytes, %d %%, %ld B/s", transfer.bytes,
                  transfer.totalBytes, percent, rate);
  }
  text += part;
  const long left = tracker_.SecondsLeft(now);
  if (left >= 0) text += ", " + DurationText(left) + " left";
  const std::uint32_t quiet = tracker_.QuietMs(now);
  if (quiet > 0) text += ", line quiet for " + DurationText(quiet / kMsPerSecond);
  Draw(text, now, force);
}

void ProgressLine::DrawWait(std::uint32_t now, bool force) {
  const std::uint32_t leftMs = tracker_.WaitLeftMs(now);
  const long secondsLeft = static_cast<long>((leftMs + kMsPerSecond - 1) / kMsPerSecond);
  if (!force && secondsLeft == shownSecondsLeft_) return;
  shownSecondsLeft_ = secondsLeft;
  Draw("Waiting for " + tracker_.wait().subject + ": " + DurationText(secondsLeft) + " left", now,
       true);
}

}  // namespace zephor::app
