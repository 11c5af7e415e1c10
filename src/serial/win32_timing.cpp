// Real time on Windows: GetTickCount, the message pump and a sleep on the line or the messages.
#include "serial/win32_timing.h"

#include <windows.h>

#include <algorithm>

#include "serial/serial_port.h"

namespace zephor::serial {

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

void Win32Timing::IdleFor(SerialPort* port, std::uint32_t maxMs) {
  DispatchThreadMessages();
  const std::uint32_t waitMs = std::min(maxMs, UntilNextServe(TickMs()));
  // The driver's wait ends for a message too, so the window answers at once while the line is
  // silent.
  if (port != nullptr && port->ops().WaitForInput(static_cast<int>(waitMs), port->awaitedBytes))
    return;
  // A driver that cannot wait on its line is looked at again after a short pass; a message
  // already waiting (a WM_QUIT handed back) ends the sleep at once.
  const DWORD sleepMs = port != nullptr ? std::min(waitMs, kShortPassMs) : waitMs;
  MsgWaitForMultipleObjects(0, nullptr, FALSE, sleepMs, QS_ALLINPUT);
}

void Win32Timing::SleepMs(std::uint32_t ms) { Sleep(ms); }

}  // namespace zephor::serial
