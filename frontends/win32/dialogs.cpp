// The port dialog offers COM1 to COM4 in list order, so an item's position is the port number,
// then the ports the system lists.
#include "dialogs.h"

#include <algorithm>
#include <vector>

#include "app/port_choice.h"
#include "resource.h"

namespace zephor::win32 {
namespace {

// Room the dropped list leaves beside the widest item, in pixels.
constexpr int kListMargin = 24;

struct PortChoice {
  const std::vector<app::PortItem>* items;
  int item;
};

// A found port's description is wider than the box: the dropped list widens to show it.
void WidenDroppedList(HWND combo, const std::vector<app::PortItem>& items) {
  HDC dc = GetDC(combo);
  const HGDIOBJ old =
      SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(combo, WM_GETFONT, 0, 0)));
  int widest = 0;
  for (const app::PortItem& item : items) {
    SIZE size{};
    GetTextExtentPoint32A(dc, item.text.c_str(), static_cast<int>(item.text.size()), &size);
    widest = std::max(widest, static_cast<int>(size.cx));
  }
  SelectObject(dc, old);
  ReleaseDC(combo, dc);
  SendMessageA(combo, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(widest + kListMargin), 0);
}

INT_PTR CALLBACK PortSetupProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* choice = reinterpret_cast<PortChoice*>(GetWindowLongPtrA(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG: {
      SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      choice = reinterpret_cast<PortChoice*>(lParam);
      HWND combo = GetDlgItem(dialog, IDC_PORT_COMBO);
      for (const app::PortItem& item : *choice->items) {
        SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.text.c_str()));
      }
      WidenDroppedList(combo, *choice->items);
      // Opens showing the port in use; -1 selects nothing.
      SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(choice->item), 0);
      return TRUE;
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_PORT_COMBO:
          if (HIWORD(wParam) == CBN_SELCHANGE && choice != nullptr) {
            const LRESULT selected =
                SendMessageA(reinterpret_cast<HWND>(lParam), CB_GETCURSEL, 0, 0);
            if (selected != CB_ERR) choice->item = static_cast<int>(selected);
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
  return app::ChoosePortIn(
      {},
      [instance, owner](const std::vector<app::PortItem>& items, int& item) {
        PortChoice choice{&items, item};
        const INT_PTR result = DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_PORT_SETUP), owner,
                                               PortSetupProc, reinterpret_cast<LPARAM>(&choice));
        if (result != IDOK) return false;
        item = choice.item;
        return true;
      },
      portIndex);
}

void RunAboutDialog(HINSTANCE instance, HWND owner) {
  DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_ABOUTBOX), owner, AboutProc, 0);
}

}  // namespace zephor::win32
