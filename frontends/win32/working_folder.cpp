// The images are read and the databases, journals and logs written in the working directory, so
// a start from the Start menu first moves to the folder the technician works in.
#include "working_folder.h"

#include <windows.h>
// shlobj.h builds on the types of windows.h.
#include <shlobj.h>

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "updater_window.h"

namespace zephor::win32 {
namespace {

constexpr int kExitBadUsage = 2;
constexpr wchar_t kChooseFolderCaption[] = L"Choose the working folder of the ZEPHOR update";

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

std::string Narrow(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string narrow(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow.data(), size, nullptr, nullptr);
  narrow.resize(static_cast<std::size_t>(size - 1));
  return narrow;
}

void Tell(const std::wstring& text, UINT icon) {
  const std::wstring title = Widen(kMessageTitle);
  MessageBoxW(nullptr, text.c_str(), title.c_str(), MB_OK | icon);
}

// The arguments after the program's name, in UTF-8, last first as CLI11 takes a vector.
std::vector<std::string> Arguments() {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  for (int i = count - 1; i >= 1; --i) arguments.push_back(Narrow(wide[i]));
  LocalFree(wide);
  return arguments;
}

// The folder dialog opens at the user's own folder, as the Linux window's does at home.
int CALLBACK StartAtProfile(HWND dialog, UINT message, LPARAM, LPARAM) {
  wchar_t profile[MAX_PATH];
  if (message == BFFM_INITIALIZED &&
      SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, 0, profile) == S_OK) {
    SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(profile));
  }
  return 0;
}

// False on Cancel.
bool AskForFolder(std::wstring& folder) {
  // The dialog with its new folder button needs COM on this thread.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  BROWSEINFOW browse{};
  browse.lpszTitle = kChooseFolderCaption;
  browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  browse.lpfn = StartAtProfile;
  LPITEMIDLIST chosen = SHBrowseForFolderW(&browse);
  wchar_t path[MAX_PATH] = L"";
  const bool got = chosen != nullptr && SHGetPathFromIDListW(chosen, path);
  CoTaskMemFree(chosen);
  if (SUCCEEDED(com)) CoUninitialize();
  folder = path;
  return got && !folder.empty();
}

std::wstring SystemMessage(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message =
      length > 0 ? std::wstring(text, length) : L"error " + std::to_wstring(error);
  LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r')) {
    message.pop_back();
  }
  return message;
}

}  // namespace

std::optional<int> EnterWorkingFolder() {
  std::string named;
  bool chooseFolder = false;
  CLI::App command{
      "The ZEPHOR update window. It reads the image files and writes ZEPHORdata.bin, "
      "the journals and the reports in its working folder.",
      "zephor-update.exe"};
  command.add_option("folder", named, "Work in this folder (default: the current one)");
  command.add_flag("--choose-folder", chooseFolder,
                   "Without a folder, ask for one first (Cancel ends the program)");
  std::vector<std::string> arguments = Arguments();
  try {
    command.parse(arguments);
  } catch (const CLI::ParseError& e) {
    // A window program has no console to print on: help and mistakes go in a box.
    std::ostringstream said;
    const int code = command.exit(e, said, said);
    Tell(Widen(said.str()), code == 0 ? MB_ICONINFORMATION : MB_ICONWARNING);
    return code == 0 ? EXIT_SUCCESS : kExitBadUsage;
  }
  std::wstring folder = Widen(named);
  if (folder.empty() && chooseFolder && !AskForFolder(folder)) return EXIT_SUCCESS;
  if (folder.empty()) return std::nullopt;
  if (!SetCurrentDirectoryW(folder.c_str())) {
    Tell(L"Cannot work in the folder " + folder + L": " + SystemMessage(GetLastError()),
         MB_ICONWARNING);
    return kExitBadUsage;
  }
  return std::nullopt;
}

}  // namespace zephor::win32
