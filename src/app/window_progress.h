// What a window shows of the work beside its log: the status line under the bar, the bar, and
// the whole run's per cent in the title and on the taskbar button. It follows the operations'
// progress events and bar positions and draws through the view, at most every kRedrawEveryMs.
//
// The bar belongs to the transfers: each fills it from empty to full, the memory's download
// against the length the instrument announced. Once an operation has moved a file the bar is
// empty between transfers and stays so after the run; an operation that moves none (Info) shows
// its own steps, against the window's own range.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "app/progress_tracker.h"
#include "app/run_progress.h"
#include "app/taskbar_progress.h"
#include "app/updater_view.h"
#include "device/progress_event.h"

namespace zephor::app {

inline constexpr char kMainCaption[] = "ZEPHOR Update Program V1.40";
// The range the window's bar starts with; an operation's own range lasts until it ends.
inline constexpr int kBarLow = 1;
inline constexpr int kBarHigh = 100;

class WindowProgress {
 public:
  // clock gives the same ticks as the events carry.
  WindowProgress(UpdaterView& view, std::function<std::uint32_t()> clock)
      : view_(view), clock_(std::move(clock)) {}

  void SetTaskbar(TaskbarProgress* taskbar) { taskbar_ = taskbar; }

  void OperationStarted();
  // failed: how a run that shows on the taskbar ended; none for the other operations.
  void OperationEnded(std::optional<bool> failed);
  void Take(const device::ProgressEvent& event);
  void SetProgressRange(int low, int high);
  void SetProgress(int position);
  // On every pass of a wait: the wait's seconds and a quiet line move on.
  void Tick();

 private:
  void Redraw(bool force);
  int BarPercent() const;

  UpdaterView& view_;
  std::function<std::uint32_t()> clock_;
  TaskbarProgress* taskbar_ = nullptr;
  ProgressTracker tracker_;
  RunProgress run_;
  int low_ = kBarLow;
  int high_ = kBarHigh;
  int position_ = 0;
  bool movedFile_ = false;
  // What is drawn, so that only a change is drawn again.
  bool drawn_ = false;
  std::string status_;
  int bar_ = 0;
  int runPercent_ = kNoRunPercent;
  std::uint32_t drawnAt_ = 0;
};

// The status line at now: "Sending main.bin: 312 of 470 blocks, 66 %, 912 B/s, about 0:17
// left", "Receiving ZEPHORdata.bin: 12 288 of 19 997 bytes, ...", "... 66 %. Line quiet for
// 4 s", "Waiting for READY: 12 s", the summary of the transfer that ended last, or empty.
std::string StatusText(const ProgressTracker& tracker, std::uint32_t now);
// The window's title, with the run's per cent while one runs.
std::string Caption(int runPercent);

}  // namespace zephor::app
