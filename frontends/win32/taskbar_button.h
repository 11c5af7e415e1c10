// The run's per cent on the window's taskbar button, through the shell's ITaskbarList3.
#pragma once

#include <windows.h>
// shobjidl.h builds on the types of windows.h.
#include <shobjidl.h>

#include "app/taskbar_progress.h"

namespace zephor::win32 {

class TaskbarButton final : public app::TaskbarProgress {
 public:
  TaskbarButton() = default;
  TaskbarButton(const TaskbarButton&) = delete;
  TaskbarButton& operator=(const TaskbarButton&) = delete;
  ~TaskbarButton() override;

  // Binds to the window's button; again when the shell made the button anew. Without a taskbar
  // (no shell, an older system) nothing is shown and nothing fails.
  void Attach(HWND window);

  // app::TaskbarProgress
  void ShowPercent(int percent) override;
  void ShowEnd(bool failed) override;

 private:
  void Release();

  HWND window_ = nullptr;
  ITaskbarList3* list_ = nullptr;
};

}  // namespace zephor::win32
