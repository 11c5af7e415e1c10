// The two small dialogs of the Windows front end: the port choice and the About box.
#pragma once

#include <windows.h>

namespace zephor::win32 {

// Runs the port dialog on a copy of portIndex; true on OK, with portIndex then the choice.
bool RunPortSetupDialog(HINSTANCE instance, HWND owner, int& portIndex);
void RunAboutDialog(HINSTANCE instance, HWND owner);

}  // namespace zephor::win32
