#include "app/progress_line.h"

#include <cstdio>

namespace zephor::app {
namespace {

constexpr long kBlockBytes = 128;
constexpr long kMsPerSecond = 1000;
constexpr long kSecondsPerMinute = 60;
constexpr long kPercent = 100;
// Returns the cursor to the line's start and wipes the line.
constexpr char kWipeLine[] = "\r\033[K";

long BytesPerSecond(long bytes, std::uint32_t elapsedMs) {
  return elapsedMs == 0 ? 0 : static_cast<long>(bytes * kMsPerSecond / elapsedMs);
}

std::string Seconds(std::uint32_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / kMsPerSecond);
  return text;
}

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
  switch (event.kind) {
    case ProgressKind::kTransferStart:
      inTransfer_ = true;
      transfer_ = event;
      startedAt_ = movedAt_ = event.tickMs;
      DrawTransfer(event.tickMs, true);
      break;
    case ProgressKind::kTransferStep:
      if (!inTransfer_) break;
      if (event.bytes != transfer_.bytes) movedAt_ = event.tickMs;
      transfer_.bytes = event.bytes;
      transfer_.blocksResent = event.blocksResent;
      DrawTransfer(event.tickMs, false);
      break;
    case ProgressKind::kTransferEnd:
      MakeWay();
      inTransfer_ = false;
      WriteSummary(event);
      break;
    case ProgressKind::kWaitStart:
      if (event.limitMs <= kCountdownAfterMs) break;
      inWait_ = true;
      wait_ = event;
      shownSecondsLeft_ = -1;
      DrawWait(event.tickMs, true);
      break;
    case ProgressKind::kWaitEnd:
      if (!inWait_ || event.subject != wait_.subject) break;
      inWait_ = false;
      MakeWay();
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
  if (!live_ || (!inTransfer_ && !inWait_)) return;
  const std::uint32_t now = clock_();
  if (inTransfer_) {
    DrawTransfer(now, false);
  } else {
    DrawWait(now, false);
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
  const std::uint32_t elapsed = now - startedAt_;
  const long rate = BytesPerSecond(transfer_.bytes, elapsed);
  std::string text = transfer_.subject + ": ";
  char part[128];
  if (transfer_.sending && transfer_.totalBytes > 0) {
    const long blocks = (transfer_.totalBytes + kBlockBytes - 1) / kBlockBytes;
    std::snprintf(part, sizeof part, "block %ld of %ld, %ld %%, %ld B/s",
                  transfer_.bytes / kBlockBytes, blocks,
                  transfer_.bytes * kPercent / transfer_.totalBytes, rate);
    text += part;
    if (rate > 0)
      text += ", " + DurationText((transfer_.totalBytes - transfer_.bytes) / rate) + " left";
  } else {
    std::snprintf(part, sizeof part, "%ld bytes received, %ld B/s", transfer_.bytes, rate);
    text += part;
  }
  const std::uint32_t quiet = now - movedAt_;
  if (quiet >= kQuietAfterMs) text += ", line quiet for " + DurationText(quiet / kMsPerSecond);
  Draw(text, now, force);
}

void ProgressLine::DrawWait(std::uint32_t now, bool force) {
  const std::uint32_t elapsed = now - wait_.tickMs;
  const std::uint32_t leftMs = elapsed >= wait_.limitMs ? 0 : wait_.limitMs - elapsed;
  const long secondsLeft = static_cast<long>((leftMs + kMsPerSecond - 1) / kMsPerSecond);
  if (!force && secondsLeft == shownSecondsLeft_) return;
  shownSecondsLeft_ = secondsLeft;
  Draw("Waiting for " + wait_.subject + ": " + DurationText(secondsLeft) + " left", now, true);
}

void ProgressLine::WriteSummary(const device::ProgressEvent& end) {
  const std::uint32_t elapsed = end.tickMs - startedAt_;
  char text[256];
  if (end.result > 0) {
    std::snprintf(text, sizeof text, "%s: %ld bytes %sin %s, %ld B/s", end.subject.c_str(),
                  end.bytes, end.sending ? "" : "received ", Seconds(elapsed).c_str(),
                  BytesPerSecond(end.bytes, elapsed));
    out_ << text;
    if (end.sending) {
      out_ << ", " << end.blocksResent << (end.blocksResent == 1 ? " block" : " blocks")
           << " sent again";
    }
  } else {
    std::snprintf(text, sizeof text, "%s: failed with %d after %ld bytes in %s",
                  end.subject.c_str(), end.result, end.bytes, Seconds(elapsed).c_str());
    out_ << text;
  }
  out_ << "\n";
  out_.flush();
}

}  // namespace zephor::app
