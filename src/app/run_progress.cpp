#include "app/run_progress.h"

#include <algorithm>

#include "app/progress_units.h"

namespace zephor::app {
namespace {

constexpr int kHighestBeforeTheEnd = 99;

}  // namespace

void RunProgress::Take(const device::ProgressEvent& event) {
  using device::ProgressKind;
  switch (event.kind) {
    case ProgressKind::kTransferPlanned:
      planned_.push_back({event.subject, event.totalBytes});
      break;
    case ProgressKind::kTransferStart: {
      // The next planned transfer of that file; the ones before it did not happen (an empty
      // memory is not downloaded) and count as done.
      const auto found = std::find_if(planned_.begin(), planned_.end(), [&](const Planned& p) {
        return !p.started && p.subject == event.subject;
      });
      inPlanned_ = found != planned_.end();
      if (!inPlanned_) return;
      for (auto skipped = planned_.begin(); skipped != found; ++skipped) {
        if (!skipped->started) skipped->started = skipped->done = true;
      }
      found->started = true;
      if (event.totalBytes > 0) found->bytes = event.totalBytes;
      running_ = static_cast<std::size_t>(found - planned_.begin());
      break;
    }
    case ProgressKind::kTransferStep:
      if (!inPlanned_) return;
      planned_[running_].moved = event.bytes;
      break;
    case ProgressKind::kTransferEnd:
      if (!inPlanned_) return;
      planned_[running_].done = true;
      inPlanned_ = false;
      break;
    case ProgressKind::kWaitStart:
    case ProgressKind::kWaitEnd:
      return;
  }
  Update();
}

void RunProgress::Update() {
  if (planned_.empty()) return;
  long longest = 1;
  for (const Planned& p : planned_) longest = std::max(longest, p.bytes);
  double total = 0;
  double moved = 0;
  for (const Planned& p : planned_) {
    const long bytes = p.bytes > 0 ? p.bytes : longest;
    total += static_cast<double>(bytes);
    if (p.done) {
      moved += static_cast<double>(bytes);
    } else if (p.started) {
      moved += static_cast<double>(std::clamp(p.moved, 0L, bytes));
    }
  }
  if (total != total_) {
    baseShare_ = share_;
    baseMoved_ = moved;
    total_ = total;
  }
  const double left = total_ - baseMoved_;
  share_ = left > 0 ? baseShare_ + (1 - baseShare_) * (moved - baseMoved_) / left : 1;
  const int percent = std::min(kHighestBeforeTheEnd, static_cast<int>(share_ * kPercent));
  shown_ = std::max(shown_, percent);
}

}  // namespace zephor::app
