// Transfers and waits on a terminal: a line redrawn in place while a file moves (blocks, per
// cent, rate, time left) or while the instrument is awaited (seconds left), and one summary line
// per transfer. Where the output is not a terminal only the summaries are written.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "app/console_view.h"
#include "app/progress_tracker.h"
#include "device/progress_event.h"

namespace zephor::app {

// "42 s", or "2 min 05 s" from a minute on.
std::string DurationText(long seconds);

class ProgressLine final : public ProgressSink {
 public:
  // clock gives the same ticks as the events carry; live says whether out is a terminal.
  ProgressLine(std::ostream& out, bool live, std::function<std::uint32_t()> clock)
      : out_(out), live_(live), clock_(std::move(clock)) {}

  void Show(const device::ProgressEvent& event) override;
  void MakeWay() override;
  // Called while the operation waits: redraws a countdown or a quiet line when due.
  void Tick();

 private:
  void Draw(const std::string& text, std::uint32_t now, bool force);
  void DrawTransfer(std::uint32_t now, bool force);
  void DrawWait(std::uint32_t now, bool force);

  std::ostream& out_;
  bool live_;
  std::function<std::uint32_t()> clock_;
  ProgressTracker tracker_;
  bool drawn_ = false;
  std::uint32_t drawnAt_ = 0;
  long shownSecondsLeft_ = -1;
};

}  // namespace zephor::app
