// The main window from its dialog template: it draws the updater's log, bar, status line, title,
// taskbar button and boxes and forwards the three buttons, the About item and closing to an
// app::Updater.
#pragma once

#include <windows.h>

#include <string_view>

#include "app/updater.h"
#include "app/updater_view.h"
#include "serial/serial_port.h"
#include "serial/timing.h"
#include "taskbar_button.h"

namespace zephor::win32 {

inline constexpr char kMessageTitle[] = "ZEPHOR Update";

class UpdaterWindow final : public app::UpdaterView {
 public:
  UpdaterWindow(HINSTANCE instance, serial::PortFactory* factory, serial::Timing* timing);
  UpdaterWindow(const UpdaterWindow&) = delete;
  UpdaterWindow& operator=(const UpdaterWindow&) = delete;
  ~UpdaterWindow() override;

  // Runs the window modally; returns the code the program ends with.
  int Run();

  // app::UpdaterView
  void AppendLog(std::string_view text) override;
  void ClearLog() override;
  void SetLog(std::string_view text) override;
  void SetProgress(int percent) override;
  void ShowStatus(std::string_view text) override;
  void ShowCaption(std::string_view text) override;
  bool ShowMessage(std::string_view text, device::MessageButtons buttons) override;
  bool ChoosePort(int& portIndex) override;
  void Exit(int code) override;
  void PumpEvents() override;

 private:
  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void OnInitDialog();
  void OnCommand(int id);
  bool OnSystemCommand(WPARAM command);
  bool PaintMinimised();
  HWND Item(int id) const { return GetDlgItem(window_, id); }
  int LogLinesShown() const;

  HINSTANCE instance_;
  HICON icon_;
  HWND window_ = nullptr;
  // The shell tells a window with this message that its taskbar button was made anew.
  UINT taskbarButtonCreated_;
  TaskbarButton taskbar_;
  app::Updater updater_;
};

}  // namespace zephor::win32
