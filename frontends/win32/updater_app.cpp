// zephor-update.exe: the application object. It runs the main window modally and ends with it.
#include <windows.h>
// commctrl.h builds on the types of windows.h.
#include <commctrl.h>

#include "serial/serial_port.h"
#include "serial/win32_driver.h"
#include "serial/win32_timing.h"
#include "updater_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  zephor::serial::Win32PortFactory factory;
  zephor::serial::Win32Timing timing;
  zephor::win32::UpdaterWindow window(instance, &factory, &timing);
  // There is no message loop of the program's own: when the window ends, so does the program.
  const int code = window.Run();
  zephor::serial::CloseAllPorts();
  return code;
}
