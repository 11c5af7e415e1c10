// Real time on Windows: the system tick counter and the thread's window-message pump.
#pragma once

#include <cstdint>

#include "serial/timing.h"

namespace zephor::serial {

// Dispatches every waiting message of the thread. A WM_QUIT is posted again and ends the pass:
// the end of the program belongs to the loop that runs the window.
void DispatchThreadMessages();

class Win32Timing final : public Timing {
 public:
  // GetTickCount: wraps after 49.7 days like every tick the timed functions compare.
  std::uint32_t TickMs() override;
  // Dispatches every waiting message of the thread, then sleeps until a byte comes on port, a
  // message comes for the thread's windows, maxMs pass or the next mark of kServeEveryMs.
  void IdleFor(SerialPort* port, std::uint32_t maxMs) override;
  void SleepMs(std::uint32_t ms) override;
  bool StopRequested() const override { return stop_; }
  void RequestStop() { stop_ = true; }

 private:
  bool stop_ = false;
};

}  // namespace zephor::serial
