// Looks at zephor-update.exe's window from another process, for the window check under Wine:
//   window_probe sample        prints the title, the status line, the bar, the log's first
//                              line in view and whether its newest line is in view, and the
//                              text of a message box that is open
//   window_probe press ID      presses the window's button ID
//   window_probe answer        presses OK in the open message box
//   window_probe scroll LINES  scrolls the log by LINES (negative: up)
// Exits 1 when the window (or the box) is not there, 2 on bad usage.
#include <windows.h>
// commctrl.h builds on the types of windows.h.
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr char kMainCaption[] = "ZEPHOR Update Program";
constexpr char kBoxCaption[] = "ZEPHOR Update";
constexpr char kDialogClass[] = "#32770";
constexpr int kActivityLog = 1003;
constexpr int kProgress = 1005;
constexpr int kStatusLine = 1006;
// The text of a message box sits in its static control of this id.
constexpr int kBoxText = 0xFFFF;
constexpr int kNotFound = 1;
constexpr int kUsage = 2;
constexpr int kTextSize = 1024;

std::string Text(HWND window) {
  char text[kTextSize] = {};
  GetWindowTextA(window, text, kTextSize);
  return text;
}

struct Search {
  const char* caption;
  bool exact;
  HWND found;
};

BOOL CALLBACK Match(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  char className[64] = {};
  GetClassNameA(window, className, sizeof className);
  const std::string title = Text(window);
  const bool named =
      search->exact ? title == search->caption : title.rfind(search->caption, 0) == 0;
  if (std::strcmp(className, kDialogClass) != 0 || !named || !IsWindowVisible(window)) return TRUE;
  search->found = window;
  return FALSE;
}

HWND Find(const char* caption, bool exact) {
  Search search{caption, exact, nullptr};
  EnumWindows(Match, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The top of line in the log's client area, from the position of its first character.
int LineTop(HWND log, LRESULT line) {
  const LRESULT first = SendMessageA(log, EM_LINEINDEX, static_cast<WPARAM>(line), 0);
  return static_cast<short>(HIWORD(SendMessageA(log, EM_POSFROMCHAR, first, 0)));
}

// The log's newest line: the text before its last line end. Its text comes by message, which
// reaches across the processes.
std::string NewestLine(HWND log) {
  const LRESULT length = SendMessageA(log, WM_GETTEXTLENGTH, 0, 0);
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  SendMessageA(log, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(std::strlen(text.c_str()));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  const std::size_t start = text.find_last_of('\n');
  return start == std::string::npos ? text : text.substr(start + 1);
}

// The status line as the updater wrote it: the window breaks a long one after a ", ".
std::string StatusLine(HWND main) {
  std::string text = Text(GetDlgItem(main, kStatusLine));
  for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
    text.replace(at, 2, " ");
  }
  return text;
}

int Sample(HWND main) {
  HWND log = GetDlgItem(main, kActivityLog);
  const LRESULT lines = SendMessageA(log, EM_GETLINECOUNT, 0, 0);
  const LRESULT first = SendMessageA(log, EM_GETFIRSTVISIBLELINE, 0, 0);
  // The log ends with a line end: the newest line is the one before the empty last one.
  const LRESULT newest = lines >= 2 ? lines - 2 : 0;
  RECT client{};
  GetClientRect(log, &client);
  const int height = lines >= 2 ? LineTop(log, 1) - LineTop(log, 0) : 0;
  const int top = LineTop(log, newest);
  const bool shown = height > 0 && top >= 0 && top + height <= client.bottom;
  std::printf("title=%s\n", Text(main).c_str());
  std::printf("status=%s\n", StatusLine(main).c_str());
  HWND bar = GetDlgItem(main, kProgress);
  std::printf("bar=%ld\n", static_cast<long>(SendMessageA(bar, PBM_GETPOS, 0, 0)));
  std::printf("barlow=%ld\n", static_cast<long>(SendMessageA(bar, PBM_GETRANGE, TRUE, 0)));
  std::printf("lines=%ld\nfirst=%ld\nnewest_shown=%d\n", static_cast<long>(lines),
              static_cast<long>(first), shown ? 1 : 0);
  std::printf("newest=%s\n", NewestLine(log).c_str());
  HWND box = Find(kBoxCaption, true);
  std::printf("box=%s\n", box != nullptr ? Text(GetDlgItem(box, kBoxText)).c_str() : "");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: window_probe sample|press ID|answer|scroll LINES\n");
    return kUsage;
  }
  const std::string command = argv[1];
  HWND main = Find(kMainCaption, false);
  if (main == nullptr) {
    std::fprintf(stderr, "window_probe: no window \"%s\"\n", kMainCaption);
    return kNotFound;
  }
  if (command == "sample") return Sample(main);
  if (command == "press" && argc == 3) {
    const int id = std::atoi(argv[2]);
    // Posted: the button's handler runs the whole operation before it returns.
    PostMessageA(main, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(main, id)));
    return 0;
  }
  if (command == "answer") {
    HWND box = Find(kBoxCaption, true);
    if (box == nullptr) return kNotFound;
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return 0;
  }
  if (command == "scroll" && argc == 3) {
    SendMessageA(GetDlgItem(main, kActivityLog), EM_LINESCROLL, 0, std::atoi(argv[2]));
    return 0;
  }
  std::fprintf(stderr, "window_probe: unknown command %s\n", command.c_str());
  return kUsage;
}
