// What the updater needs from a window: the log box, the progress bar, the status line and the
// title, message boxes, the port dialog, the program's end and the event pump.
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
  // The bar in per cent; 0 is an empty bar.
  virtual void SetProgress(int percent) = 0;
  // Returns true for OK.
  virtual bool ShowMessage(std::string_view text, device::MessageButtons buttons) = 0;
  // Runs the port dialog on portIndex; true when it ended with OK (portIndex then holds the
  // choice), false otherwise.
  virtual bool ChoosePort(int& portIndex) = 0;
  // Ends the program with a code once control returns to the window.
  virtual void Exit(int code) = 0;
  // Dispatches what the window has pending and returns at once.
  virtual void PumpEvents() = 0;
  // A transfer or a long wait moved on. A window draws the status line and title it is given;
  // a terminal draws its own line from the events.
  virtual void ShowProgress(const device::ProgressEvent&) {}
  // The line under the bar; empty when the window is idle.
  virtual void ShowStatus(std::string_view) {}
  // The window's title.
  virtual void ShowCaption(std::string_view) {}
};

}  // namespace zephor::app
