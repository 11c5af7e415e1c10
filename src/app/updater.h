// The updater behind the main window: the shared station, the activity log and the three button
// handlers, drawn by any UpdaterView.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "app/stop_timing.h"
#include "app/taskbar_progress.h"
#include "app/updater_view.h"
#include "app/window_progress.h"
#include "device/operator_panel.h"
#include "serial/serial_port.h"
#include "serial/timing.h"

namespace zephor::app {

// The log box keeps only its newest mebibyte. When it grows past that, the oldest text is dropped
// down to the cap less a slack, so the box is rewritten once in many lines rather than on each.
inline constexpr std::size_t kLogCapBytes = 1024 * 1024;
inline constexpr std::size_t kLogTrimSlack = kLogCapBytes / 8;
inline constexpr int kExitNormal = 0;
inline constexpr const char* kStopLoadQuestion =
    "Stop now? The ZEPHOR is being updated: it will wait for its programs until Make Update "
    "finishes it.";

class Updater final : public device::OperatorPanel {
 public:
  // errorCopy receives every log text and message box text; nullptr when the view already shows
  // them on the terminal.
  Updater(UpdaterView& view, serial::PortFactory* factory, serial::Timing* timing,
          std::ostream* errorCopy);
  Updater(const Updater&) = delete;
  Updater& operator=(const Updater&) = delete;

  // device::OperatorPanel
  void AppendLog(std::string_view text) override;
  void ClearLog() override;
  void SetProgress(int position) override;
  void SetProgressRange(int low, int high) override;
  bool ShowMessage(std::string_view text, device::MessageButtons buttons) override;
  void ExitProgram(int code) override;
  void ReportProgress(const device::ProgressEvent& event) override;

  // Where the run's per cent goes beside the title; nullptr for none.
  void SetTaskbar(TaskbarProgress* taskbar) { progress_.SetTaskbar(taskbar); }

  // Button handlers. A press while another operation runs is ignored.
  void OnInfo();
  void OnComPortSetup();
  void OnMakeUpdate();
  // Esc, the close box or the Close command: ends the program at once when idle; during an
  // operation the waits end at their next pass and the program ends when the operation returns.
  // While an image load or the database chain runs the operator is asked first; Cancel goes on.
  void RequestClose();
  // A signal (interrupt, terminate, hang-up): stops like an answered close, without a question.
  void StopForSignal();

  // Runs one operation unless another one runs; false when the press was ignored.
  bool RunOperation(const std::function<void()>& operation);

  bool busy() const { return busy_; }
  bool closeRequested() const { return closeRequested_; }
  const std::string& log() const { return log_; }
  device::Station& station() { return station_; }
  const device::Station& station() const { return station_; }

 private:
  void CopyToError(std::string_view text, bool endLine);
  void TrimLog();

  UpdaterView& view_;
  StopTiming timing_;
  WindowProgress progress_;
  std::ostream* errorCopy_;
  device::Station station_;
  std::string log_;
  bool busy_ = false;
  bool closeRequested_ = false;
  bool exited_ = false;
  bool askingToStop_ = false;
  // How the running Make Update ended, for the taskbar; none for the other operations.
  std::optional<bool> runFailed_;
};

}  // namespace zephor::app
