// The port dialog offers COM1 to COM4 in list order, so an item's position is the port number.
#include "dialogs.h"

#include "resource.h"

namespace zephor::win32 {
namespace {

constexpr const char* kPortNames[] = {"COM1", "COM2", "COM3", "COM4"};

struct PortChoice {
  int portNumber;
};

INT_PTR CALLBACK PortSetupProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* choice = reinterpret_cast<PortChoice*>(GetWindowLongPtrA(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG: {
      SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      choice = reinterpret_cast<PortChoice*>(lParam);
      HWND combo = GetDlgItem(dialog, IDC_PORT_COMBO);
      for (const char* name : kPortNames) {
        SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
      }
      // Opens showing the port in use.
      SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(choice->portNumber), 0);
      return TRUE;
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_PORT_COMBO:
          if (HIWORD(wParam) == CBN_SELCHANGE && choice != nullptr) {
            const LRESULT selected =
                SendMessageA(reinterpret_cast<HWND>(lParam), CB_GETCURSEL, 0, 0);
            if (selected != CB_ERR) choice->portNumber = static_cast<int>(selected);
          }
          return TRUE;
        case IDOK:
        case IDCANCEL:
          EndDialog(dialog, LOWORD(wParam));
          return TRUE;
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

bool RunPortSetupDialog(HINSTANCE instance, HWND owner, int& portIndex) {
  PortChoice choice{portIndex};
  const INT_PTR result = DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_PORT_SETUP), owner,
                                         PortSetupProc, reinterpret_cast<LPARAM>(&choice));
  if (result != IDOK) return false;
  portIndex = choice.portNumber;
  return true;
}

void RunAboutDialog(HINSTANCE instance, HWND owner) {
  DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_ABOUTBOX), owner, AboutProc, 0);
}

}  // namespace zephor::win32
