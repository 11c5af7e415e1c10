#include "app/progress_tracker.h"

#include <algorithm>
#include <cstdio>

#include "app/progress_units.h"

namespace zephor::app {
namespace {

long Rate(long bytes, std::uint32_t elapsedMs) {
  return elapsedMs == 0 ? 0 : static_cast<long>(bytes * kMsPerSecond / elapsedMs);
}

std::string Seconds(std::uint32_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / kMsPerSecond);
  return text;
}

}  // namespace

bool ProgressTracker::Take(const device::ProgressEvent& event) {
  using device::ProgressKind;
  switch (event.kind) {
    case ProgressKind::kTransferPlanned:
      return false;
    case ProgressKind::kTransferStart:
      activity_ = Activity::kTransfer;
      transfer_ = event;
      startedAt_ = movedAt_ = event.tickMs;
      ended_ = false;
      return true;
    case ProgressKind::kTransferStep:
      if (activity_ != Activity::kTransfer) return false;
      if (event.bytes != transfer_.bytes) movedAt_ = event.tickMs;
      transfer_.bytes = event.bytes;
      transfer_.blocksResent = event.blocksResent;
      return false;
    case ProgressKind::kTransferEnd:
      activity_ = Activity::kIdle;
      transfer_.bytes = event.bytes;
      ended_ = true;
      end_ = event;
      return true;
    case ProgressKind::kWaitStart:
      if (event.limitMs <= kCountdownAfterMs) return false;
      activity_ = Activity::kWait;
      wait_ = event;
      ended_ = false;
      return true;
    case ProgressKind::kWaitEnd:
      if (activity_ != Activity::kWait || event.subject != wait_.subject) return false;
      activity_ = Activity::kIdle;
      return true;
  }
  return false;
}

int ProgressTracker::Percent() const {
  if (transfer_.totalBytes <= 0) return -1;
  // A received file ends padded to its last block, so it may pass the length announced.
  return static_cast<int>(std::min(kPercent, transfer_.bytes * kPercent / transfer_.totalBytes));
}

long ProgressTracker::BytesPerSecond(std::uint32_t now) const {
  return Rate(transfer_.bytes, now - startedAt_);
}

long ProgressTracker::SecondsLeft(std::uint32_t now) const {
  const long rate = BytesPerSecond(now);
  if (transfer_.totalBytes <= 0 || rate <= 0) return -1;
  return std::max(0L, transfer_.totalBytes - transfer_.bytes) / rate;
}

std::uint32_t ProgressTracker::QuietMs(std::uint32_t now) const {
  const std::uint32_t quiet = now - movedAt_;
  return quiet >= kQuietAfterMs ? quiet : 0;
}

std::uint32_t ProgressTracker::WaitLeftMs(std::uint32_t now) const {
  const std::uint32_t waited = WaitedMs(now);
  return waited >= wait_.limitMs ? 0 : wait_.limitMs - waited;
}

std::string TransferSummary(const device::ProgressEvent& end, std::uint32_t startedAt) {
  const std::uint32_t elapsed = end.tickMs - startedAt;
  char text[256];
  if (end.result <= 0) {
    std::snprintf(text, sizeof text, "%s: failed with %d after %ld bytes in %s",
                  end.subject.c_str(), end.result, end.bytes, Seconds(elapsed).c_str());
    return text;
  }
  std::snprintf(text, sizeof text, "%s: %ld bytes %sin %s, %ld B/s", end.subject.c_str(), end.bytes,
                end.sending ? "" : "received ", Seconds(elapsed).c_str(), Rate(end.bytes, elapsed));
  std::string summary = text;
  if (end.sending) {
    summary += ", " + std::to_string(end.blocksResent) +
               (end.blocksResent == 1 ? " block" : " blocks") + " sent again";
  }
  return summary;
}

}  // namespace zephor::app
