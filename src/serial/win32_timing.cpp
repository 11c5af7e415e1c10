// Real time on Windows: GetTickCount, the message pump and a short wait for the next message.
#include "serial/win32_timing.h"

#include <windows.h>

namespace zephor::serial {
namespace {
constexpr DWORD kIdleWaitMs = 1;
}

std::uint32_t Win32Timing::TickMs() { return GetTickCount(); }

void DispatchThreadMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

void Win32Timing::Idle(SerialPort*) {
  DispatchThreadMessages();
  // At most 1 ms for the next message; one already waiting (a WM_QUIT handed back) ends it.
  MsgWaitForMultipleObjects(0, nullptr, FALSE, kIdleWaitMs, QS_ALLINPUT);
}

void Win32Timing::SleepMs(std::uint32_t ms) { Sleep(ms); }

}  // namespace zephor::serial
