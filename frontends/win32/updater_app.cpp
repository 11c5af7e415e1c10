// zephor-update.exe: the application object. It runs the main window modally and ends with it.
#include <windows.h>
// commctrl.h builds on the types of windows.h.
#include <commctrl.h>
#include <objbase.h>

#include <optional>
#include <string>

#include "app/port_choice.h"
#include "app/traced_ports.h"
#include "serial/serial_port.h"
#include "serial/win32_driver.h"
#include "serial/win32_timing.h"
#include "updater_window.h"
#include "working_folder.h"

namespace {
constexpr int kExitBadUsage = 2;
}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  if (const std::optional<int> code = zephor::win32::EnterWorkingFolder()) return *code;
  zephor::serial::Win32PortFactory system;
  zephor::serial::Win32Timing timing;
  // ZEPHOR_TRACE=FILE: every byte on the line goes to FILE for the service engineer.
  zephor::app::TracedPorts ports(
      system, [&timing] { return timing.TickMs(); }, zephor::app::TraceFileFromEnvironment(),
      zephor::app::PortAndDevice);
  // A trace asked for and not written would be missed only when it is needed: no run without it.
  if (!ports.failure().empty()) {
    MessageBoxA(nullptr, ports.failure().c_str(), "ZEPHOR Update Program", MB_OK | MB_ICONERROR);
    return kExitBadUsage;
  }
  // The taskbar button's progress is a COM object of the shell; without COM it is left out.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  zephor::win32::UpdaterWindow window(instance, ports.factory(), &timing);
  // There is no message loop of the program's own: when the window ends, so does the program.
  const int code = window.Run();
  zephor::serial::CloseAllPorts();
  if (SUCCEEDED(com)) CoUninitialize();
  return code;
}
