// The whole run's progress on the window's taskbar button, seen from across the room: the
// per cent while the run goes, then the button back to normal, or in its error state after a
// failure. The Windows front end draws it; elsewhere and in tests something else stands in.
#pragma once

namespace zephor::app {

class TaskbarProgress {
 public:
  virtual ~TaskbarProgress() = default;
  // 0 to 100.
  virtual void ShowPercent(int percent) = 0;
  // The run ended: failed shows the error state until the next run, else no progress at all.
  virtual void ShowEnd(bool failed) = 0;
};

}  // namespace zephor::app
