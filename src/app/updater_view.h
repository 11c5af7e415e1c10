// What the updater needs from a window: the log box, the progress bar, message boxes, the port
// dialog, the program's end and the event pump.
#pragma once

#include <string_view>

#include "device/operator_panel.h"

namespace zephor::app {

class UpdaterView {
 public:
  virtual ~UpdaterView() = default;
  // Appends text unchanged to the log box.
  virtual void AppendLog(std::string_view text) = 0;
  virtual void ClearLog() = 0;
  // Replaces the whole log box text; used when the oldest lines are dropped.
  virtual void SetLog(std::string_view text) = 0;
  virtual void SetProgressRange(int low, int high) = 0;
  virtual void SetProgress(int position) = 0;
  // Returns true for OK.
  virtual bool ShowMessage(std::string_view text, device::MessageButtons buttons) = 0;
  // Runs the port dialog on portIndex; true when it ended with OK (portIndex then holds the
  // choice), false otherwise.
  virtual bool ChoosePort(int& portIndex) = 0;
  // Ends the program with a code once control returns to the window.
  virtual void Exit(int code) = 0;
  // Dispatches what the window has pending and returns at once.
  virtual void PumpEvents() = 0;
  // A transfer or a long wait moved on; the bar and the log already show what the window needs.
  virtual void ShowProgress(const device::ProgressEvent&) {}
};

}  // namespace zephor::app
