// Real time on Windows: GetTickCount, the message pump and a short wait for the next message.
#include "serial/win32_timing.h"

#include <windows.h>

namespace zephor::serial {
namespace {
constexpr DWORD kIdleWaitMs = 1;
}

std::uint32_t Win32Timing::TickMs() { return GetTickCount(); }

void Win32Timing::Idle(SerialPort*) {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    // The end of the program belongs to the loop that runs the window: hand it back.
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  MsgWaitForMultipleObjects(0, nullptr, FALSE, kIdleWaitMs, QS_ALLINPUT);
}

void Win32Timing::SleepMs(std::uint32_t ms) { Sleep(ms); }

}  // namespace zephor::serial
