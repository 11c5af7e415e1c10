// The Windows idle hook dispatches the thread's window messages and hands the program's end back.
#include "serial/win32_timing.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace zephor::serial {
namespace {

constexpr UINT kProbeMessage = WM_APP + 1;

int g_probeCount = 0;

LRESULT CALLBACK ProbeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kProbeMessage) {
    ++g_probeCount;
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

// A message-only window that counts the probe messages dispatched to it.
class ProbeWindow {
 public:
  ProbeWindow() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = ProbeProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "ZephorIdleProbe";
    RegisterClassA(&wc);
    window_ = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              wc.hInstance, nullptr);
    g_probeCount = 0;
  }
  ~ProbeWindow() {
    if (window_ != nullptr) DestroyWindow(window_);
  }
  ProbeWindow(const ProbeWindow&) = delete;
  ProbeWindow& operator=(const ProbeWindow&) = delete;
  HWND get() const { return window_; }

 private:
  HWND window_ = nullptr;
};

TEST(Win32TimingTest, IdleDispatchesEveryWaitingMessage) {
  ProbeWindow probe;
  ASSERT_NE(probe.get(), nullptr);
  Win32Timing timing;
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(PostMessageA(probe.get(), kProbeMessage, 0, 0));
  timing.Idle(nullptr);
  EXPECT_EQ(g_probeCount, 3);
  // Nothing left: a second pass dispatches nothing more.
  timing.Idle(nullptr);
  EXPECT_EQ(g_probeCount, 3);
}

TEST(Win32TimingTest, QuitMessageIsLeftForTheWindowsLoop) {
  ProbeWindow probe;
  Win32Timing timing;
  PostQuitMessage(7);
  ASSERT_TRUE(PostMessageA(probe.get(), kProbeMessage, 0, 0));
  timing.Idle(nullptr);
  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 7u);
  // Drain whatever the pass left behind so later tests start clean.
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
}

TEST(Win32TimingTest, TickFollowsTheSystemCounter) {
  // The system counter moves in steps of up to one timer interrupt (15.6 ms on Windows).
  constexpr std::uint32_t kSleepMs = 100;
  constexpr std::uint32_t kTickStepMs = 16;
  Win32Timing timing;
  const std::uint32_t before = GetTickCount();
  timing.SleepMs(kSleepMs);
  const std::uint32_t after = timing.TickMs();
  EXPECT_GE(after - before, kSleepMs - kTickStepMs);
  EXPECT_FALSE(timing.StopRequested());
  timing.RequestStop();
  EXPECT_TRUE(timing.StopRequested());
}

}  // namespace
}  // namespace zephor::serial
