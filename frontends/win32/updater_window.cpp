// Main window, 257 by 226 dialog units from the template; it only draws and forwards.
#include "updater_window.h"

#include <commctrl.h>

#include <iostream>
#include <string>

#include "dialogs.h"
#include "resource.h"
#include "serial/win32_timing.h"

namespace zephor::win32 {
namespace {

constexpr int kInitialStep = 10;
constexpr int kMenuTextSize = 64;
// Room for the updater's capped log and the lines that pass the cap before it trims.
constexpr WPARAM kLogLimitBytes = 2 * app::kLogCapBytes;
constexpr char kPartSeparator[] = ", ";

bool FitsIn(HDC dc, const std::string& text, LONG width) {
  SIZE size{};
  return GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size) != 0 &&
         size.cx <= width;
}

// A status line too long for one row is broken after the last of its parts that fits: left to
// itself the control may break inside "B/s".
std::string Wrapped(HWND control, const std::string& text) {
  RECT area{};
  GetClientRect(control, &area);
  HDC dc = GetDC(control);
  HGDIOBJ was =
      SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(control, WM_GETFONT, 0, 0)));
  std::string wrapped = text;
  if (!FitsIn(dc, text, area.right)) {
    for (std::size_t at = text.rfind(kPartSeparator); at != std::string::npos && at > 0;
         at = text.rfind(kPartSeparator, at - 1)) {
      const std::string first = text.substr(0, at + 1);
      if (!FitsIn(dc, first, area.right)) continue;
      wrapped = first + "\r\n" + text.substr(at + 2);
      break;
    }
  }
  SelectObject(dc, was);
  ReleaseDC(control, dc);
  return wrapped;
}

}  // namespace

UpdaterWindow::UpdaterWindow(HINSTANCE instance, serial::PortFactory* factory,
                             serial::Timing* timing)
    : instance_(instance),
      icon_(LoadIconA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME))),
      taskbarButtonCreated_(RegisterWindowMessageA("TaskbarButtonCreated")),
      // Every log and message box text goes to stderr too, as the Qt window does: a run from a
      // shell or a script keeps a record of what the window showed.
      updater_(*this, factory, timing, &std::cerr) {
  updater_.SetTaskbar(&taskbar_);
}

UpdaterWindow::~UpdaterWindow() = default;

int UpdaterWindow::Run() {
  const INT_PTR result = DialogBoxParamA(instance_, MAKEINTRESOURCEA(IDD_UPDATER_DIALOG), nullptr,
                                         DialogProc, reinterpret_cast<LPARAM>(this));
  return result < 0 ? 1 : static_cast<int>(result);
}

INT_PTR CALLBACK UpdaterWindow::DialogProc(HWND dialog, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    reinterpret_cast<UpdaterWindow*>(lParam)->window_ = dialog;
  }
  auto* self = reinterpret_cast<UpdaterWindow*>(GetWindowLongPtrA(dialog, DWLP_USER));
  return self != nullptr ? self->Handle(message, wParam, lParam) : FALSE;
}

INT_PTR UpdaterWindow::Handle(UINT message, WPARAM wParam, LPARAM) {
  if (message == taskbarButtonCreated_ && taskbarButtonCreated_ != 0) {
    taskbar_.Attach(window_);
    return TRUE;
  }
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog();
      return TRUE;
    case WM_COMMAND:
      OnCommand(LOWORD(wParam));
      return TRUE;
    case WM_SYSCOMMAND:
      return OnSystemCommand(wParam) ? TRUE : FALSE;
    case WM_PAINT:
      return PaintMinimised() ? TRUE : FALSE;
    case WM_QUERYDRAGICON:
      // One of the few messages whose dialog result is the procedure's own return value.
      return reinterpret_cast<INT_PTR>(icon_);
    case WM_DESTROY:
      window_ = nullptr;
      return FALSE;
    default:
      return FALSE;
  }
}

void UpdaterWindow::OnInitDialog() {
  HMENU systemMenu = GetSystemMenu(window_, FALSE);
  if (systemMenu != nullptr) {
    char about[kMenuTextSize] = {};
    if (LoadStringA(instance_, IDS_ABOUTBOX, about, kMenuTextSize) > 0) {
      AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
      AppendMenuA(systemMenu, MF_STRING, IDM_ABOUTBOX, about);
    }
  }
  SendMessageA(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageA(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
  SendMessageA(Item(IDC_ACTIVITY_LOG), EM_SETLIMITTEXT, kLogLimitBytes, 0);
  SendMessageA(Item(IDC_PROGRESS), PBM_SETRANGE32, static_cast<WPARAM>(app::kBarLow),
               app::kBarHigh);
  SendMessageA(Item(IDC_PROGRESS), PBM_SETSTEP, kInitialStep, 0);
  SetProgress(0);
  taskbar_.Attach(window_);
}

void UpdaterWindow::OnCommand(int id) {
  switch (id) {
    case IDC_MAKE_UPDATE:
      updater_.OnMakeUpdate();
      break;
    case IDC_COM_PORT_SETUP:
      updater_.OnComPortSetup();
      break;
    case IDC_INFO:
      updater_.OnInfo();
      break;
    case IDCANCEL:  // Esc, the close box and the system menu's Close
      updater_.RequestClose();
      break;
    default:
      break;
  }
}

bool UpdaterWindow::OnSystemCommand(WPARAM command) {
  if ((command & 0xFFF0) != IDM_ABOUTBOX) return false;
  RunAboutDialog(instance_, window_);
  return true;
}

bool UpdaterWindow::PaintMinimised() {
  if (!IsIconic(window_)) return false;
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window_, &paint);
  SendMessageA(window_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client;
  GetClientRect(window_, &client);
  const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
  DrawIcon(dc, x, y, icon_);
  EndPaint(window_, &paint);
  return true;
}

int UpdaterWindow::LogLinesShown() const {
  HWND log = Item(IDC_ACTIVITY_LOG);
  RECT area{};
  SendMessageA(log, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&area));
  HDC dc = GetDC(log);
  HGDIOBJ was = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(log, WM_GETFONT, 0, 0)));
  TEXTMETRICA metrics{};
  GetTextMetricsA(dc, &metrics);
  SelectObject(dc, was);
  ReleaseDC(log, dc);
  const int lines = metrics.tmHeight > 0 ? (area.bottom - area.top) / metrics.tmHeight : 1;
  return lines > 0 ? lines : 1;
}

void UpdaterWindow::AppendLog(std::string_view text) {
  // The view follows the newest line while it shows the end of the log; one the technician
  // scrolled up stays where it is until they scroll back to the end. A selection is kept.
  HWND log = Item(IDC_ACTIVITY_LOG);
  const LRESULT shown = LogLinesShown();
  const LRESULT first = SendMessageA(log, EM_GETFIRSTVISIBLELINE, 0, 0);
  const bool following = first + shown >= SendMessageA(log, EM_GETLINECOUNT, 0, 0);
  DWORD selectionStart = 0;
  DWORD selectionEnd = 0;
  SendMessageA(log, EM_GETSEL, reinterpret_cast<WPARAM>(&selectionStart),
               reinterpret_cast<LPARAM>(&selectionEnd));
  const int end = GetWindowTextLengthA(log);
  SendMessageA(log, EM_SETSEL, static_cast<WPARAM>(end), end);
  SendMessageA(log, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(std::string(text).c_str()));
  SendMessageA(log, EM_SETSEL, selectionStart, selectionEnd);
  const LRESULT lines = SendMessageA(log, EM_GETLINECOUNT, 0, 0);
  const LRESULT wanted = following ? (lines > shown ? lines - shown : 0) : first;
  SendMessageA(log, EM_LINESCROLL, 0, wanted - SendMessageA(log, EM_GETFIRSTVISIBLELINE, 0, 0));
}

void UpdaterWindow::ClearLog() { SetWindowTextA(Item(IDC_ACTIVITY_LOG), ""); }

void UpdaterWindow::SetLog(std::string_view text) {
  // The oldest lines were dropped and the view starts at the top: it shows the end again.
  HWND log = Item(IDC_ACTIVITY_LOG);
  SetWindowTextA(log, std::string(text).c_str());
  const LRESULT lines = SendMessageA(log, EM_GETLINECOUNT, 0, 0);
  const LRESULT shown = LogLinesShown();
  if (lines > shown) SendMessageA(log, EM_LINESCROLL, 0, lines - shown);
}

void UpdaterWindow::SetProgress(int percent) {
  // The control clamps into its range: 0, below it, is an empty bar.
  SendMessageA(Item(IDC_PROGRESS), PBM_SETPOS, static_cast<WPARAM>(percent), 0);
}

void UpdaterWindow::ShowStatus(std::string_view text) {
  SetDlgItemTextA(window_, IDC_STATUS_LINE,
                  Wrapped(Item(IDC_STATUS_LINE), std::string(text)).c_str());
}

void UpdaterWindow::ShowCaption(std::string_view text) {
  SetWindowTextA(window_, std::string(text).c_str());
}

bool UpdaterWindow::ShowMessage(std::string_view text, device::MessageButtons buttons) {
  const UINT type = buttons == device::MessageButtons::kOkCancel ? MB_OKCANCEL : MB_OK;
  return MessageBoxA(window_, std::string(text).c_str(), kMessageTitle, type) == IDOK;
}

bool UpdaterWindow::ChoosePort(int& portIndex) {
  return RunPortSetupDialog(instance_, window_, portIndex);
}

void UpdaterWindow::Exit(int code) {
  if (window_ != nullptr) EndDialog(window_, code);
}

void UpdaterWindow::PumpEvents() { serial::DispatchThreadMessages(); }

}  // namespace zephor::win32
