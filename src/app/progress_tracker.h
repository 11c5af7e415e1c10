// The transfer or the wait that is running, followed from the progress events, with what a live
// view shows of it at any tick: per cent, rate, time left, how long the line has been quiet, how
// long the wait has lasted. The terminal's line and the windows' status line both draw from it.
#pragma once

#include <cstdint>
#include <string>

#include "device/progress_event.h"

namespace zephor::app {

// A live view is redrawn at most this often.
inline constexpr std::uint32_t kRedrawEveryMs = 200;
// A transfer that moved nothing for this long shows how long the line has been quiet.
inline constexpr std::uint32_t kQuietAfterMs = 2000;
// Waits at most this long are not shown.
inline constexpr std::uint32_t kCountdownAfterMs = 1000;
inline constexpr long kBlockBytes = 128;
inline constexpr long kMsPerSecond = 1000;

enum class Activity { kIdle, kTransfer, kWait };

class ProgressTracker {
 public:
  // Follows one event. True when what runs changed (a transfer or a shown wait began or ended),
  // which a view draws at once rather than at its next redraw.
  bool Take(const device::ProgressEvent& event);
  // Back to idle, forgetting the last transfer: an operation ended.
  void Reset() { *this = ProgressTracker(); }

  Activity activity() const { return activity_; }
  // The transfer running, or the last one, as its latest event left it.
  const device::ProgressEvent& transfer() const { return transfer_; }
  // The end event of the last transfer, once one ended since the last wait began.
  const device::ProgressEvent* ended() const { return ended_ ? &end_ : nullptr; }
  const device::ProgressEvent& wait() const { return wait_; }
  std::uint32_t transferStartedAt() const { return startedAt_; }

  // The transfer's per cent of its length, 0 to 100; -1 when the length is not known.
  int Percent() const;
  long BytesPerSecond(std::uint32_t now) const;
  // Seconds until the whole length has moved at the rate so far; -1 when that cannot be told.
  long SecondsLeft(std::uint32_t now) const;
  // How long nothing has moved, once that is kQuietAfterMs or more; else 0.
  std::uint32_t QuietMs(std::uint32_t now) const;
  std::uint32_t WaitedMs(std::uint32_t now) const { return now - wait_.tickMs; }
  std::uint32_t WaitLeftMs(std::uint32_t now) const;

 private:
  Activity activity_ = Activity::kIdle;
  device::ProgressEvent transfer_;
  std::uint32_t startedAt_ = 0;
  std::uint32_t movedAt_ = 0;
  bool ended_ = false;
  device::ProgressEvent end_;
  device::ProgressEvent wait_;
};

// One line for a transfer that ended: "main.bin: 256000 bytes in 279.4 s, 916 B/s, 2 blocks sent
// again", "ZEPHORdata.bin: 19997 bytes received in 21.0 s, 952 B/s" or "ZEPHORdata.bin: failed
// with -608 after 0 bytes in 10.0 s". startedAt is the tick its transfer began at.
std::string TransferSummary(const device::ProgressEvent& end, std::uint32_t startedAt);

}  // namespace zephor::app
