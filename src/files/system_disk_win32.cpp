// The system's disk on Windows: reparse points (links) are opened as themselves and refused,
// CREATE_NEW on every create, FlushFileBuffers before a step relies on a file, renames written
// through, and the folder lock by LockFileEx, which the system drops with the process.
//
// Windows has no folder sync. A rename is made durable by MoveFileEx with
// MOVEFILE_WRITE_THROUGH, which returns once the move is on the disk. Creation and removal rely
// on NTFS's own log of its folders: a new or deleted name is committed with that log, in order
// with the renames written through after it, and the only call that would wait for it is a
// flush of the whole volume, which needs an administrator.
#include <windows.h>
// After windows.h: the C runtime's descriptors over system handles.
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "files/folder_file.h"
#include "files/folder_lock.h"
#include "files/system_disk.h"
#include "files/system_error_text.h"

namespace zephor::files {
namespace {

constexpr DWORD kChunk = 65536;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kLockedByteHigh = 1;  // the byte at 4 GiB: no text reaches it
constexpr DWORD kHolderTextLimit = 32;

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() {
    if (valid()) CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  HANDLE get() const { return h_; }
  HANDLE release() {
    HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    return h;
  }
  bool Close() { return CloseHandle(release()) != 0; }

 private:
  HANDLE h_;
};

std::string WindowsErrorText(DWORD error) {
  switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ErrnoText(ENOSPC);
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return ErrnoText(EACCES);
    case ERROR_WRITE_PROTECT:
      return ErrnoText(EROFS);
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ErrnoText(ENOENT);
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return kInTheWayText;
    default:
      return "system error " + std::to_string(error);
  }
}

std::string LastWindowsError() { return WindowsErrorText(GetLastError()); }

class WindowsFile final : public DiskFile {
 public:
  explicit WindowsFile(HANDLE h) : h_(h) {}

  bool Write(std::span<const std::uint8_t> bytes, std::string& why) override {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const DWORD part = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, kChunk));
      DWORD wrote = 0;
      if (!WriteFile(h_.get(), bytes.data() + done, part, &wrote, nullptr) || wrote == 0) {
        why = LastWindowsError();
        return false;
      }
      done += wrote;
    }
    return true;
  }

  long long Read(std::span<std::uint8_t> into, std::string& why) override {
    const DWORD part = static_cast<DWORD>(std::min<std::size_t>(into.size(), kChunk));
    DWORD got = 0;
    if (!ReadFile(h_.get(), into.data(), part, &got, nullptr)) {
      why = LastWindowsError();
      return -1;
    }
    return got;
  }

  bool Sync(std::string& why) override {
    if (FlushFileBuffers(h_.get())) return true;
    why = LastWindowsError();
    return false;
  }

  long long Size() override {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(h_.get(), &size)) return -1;
    return size.QuadPart;
  }

  bool Close(std::string& why) override {
    if (!h_.valid() || h_.Close()) return true;
    why = LastWindowsError();
    return false;
  }

 private:
  Handle h_;
};

HANDLE CreateNew(const std::filesystem::path& path) {
  return CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

struct WindowsHold final : FolderHold {
  explicit WindowsHold(HANDLE handle) : h(handle) {}
  Handle h;
};

long ReadHolder(HANDLE h) {
  char text[kHolderTextLimit + 1] = {};
  OVERLAPPED at{};
  DWORD got = 0;
  if (!ReadFile(h, text, kHolderTextLimit, &got, &at)) return 0;
  return std::strtol(text, nullptr, 10);
}

}  // namespace

std::unique_ptr<DiskFile> HostDisk::Create(const std::filesystem::path& path, std::string& why) {
  Handle h(CreateNew(path));
  if (!h.valid()) {
    why = LastWindowsError();
    return nullptr;
  }
  return std::make_unique<WindowsFile>(h.release());
}

std::unique_ptr<DiskFile> HostDisk::OpenToRead(const std::filesystem::path& path,
                                               std::string& why) {
  Handle h(CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!h.valid()) {
    why = LastWindowsError();
    return nullptr;
  }
  BY_HANDLE_FILE_INFORMATION facts{};
  if (!GetFileInformationByHandle(h.get(), &facts)) {
    why = LastWindowsError();
    return nullptr;
  }
  if ((facts.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    why = kIsLinkText;
    return nullptr;
  }
  if ((facts.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    why = kIsFolderText;
    return nullptr;
  }
  if (GetFileType(h.get()) != FILE_TYPE_DISK) {
    why = kNotRegularText;
    return nullptr;
  }
  return std::make_unique<WindowsFile>(h.release());
}

std::unique_ptr<DiskFile> HostDisk::OpenForOutput(const std::filesystem::path& path,
                                                  std::string& why) {
  Handle h(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.valid()) {
    why = LastWindowsError();
    return nullptr;
  }
  return std::make_unique<WindowsFile>(h.release());
}

bool HostDisk::Rename(const std::filesystem::path& from, const std::filesystem::path& to,
                      std::string& why) {
  if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) !=
      0) {
    return true;
  }
  why = LastWindowsError();
  return false;
}

Removal HostDisk::Remove(const std::filesystem::path& path, std::string& why) {
  if (DeleteFileW(path.c_str()) != 0) return Removal::kRemoved;
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return Removal::kAbsent;
  why = WindowsErrorText(error);
  return Removal::kFailed;
}

// Nothing to do: see the head of this file for what creation and removal rely on.
bool HostDisk::SyncFolder(const std::filesystem::path&, std::string&) { return true; }

LockOutcome HostDisk::LockFolder(const std::filesystem::path& folder,
                                 std::unique_ptr<FolderHold>& hold, long& holder,
                                 std::string& why) {
  const std::filesystem::path path = folder / kLockFileName;
  auto held = std::make_unique<WindowsHold>(
      CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  const HANDLE h = held->h.get();
  if (!held->h.valid()) {
    why = LastWindowsError();
    return LockOutcome::kUnusable;
  }
  BY_HANDLE_FILE_INFORMATION facts{};
  if (!GetFileInformationByHandle(h, &facts) ||
      (facts.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    why = kNotRegularText;
    return LockOutcome::kUnusable;
  }
  OVERLAPPED at{};
  at.OffsetHigh = kLockedByteHigh;
  if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    holder = ReadHolder(h);
    return LockOutcome::kBusy;
  }
  const std::string text = std::to_string(GetCurrentProcessId()) + "\n";
  OVERLAPPED start{};
  DWORD wrote = 0;
  // The number is for the message of a second run; the lock holds without it.
  if (SetFilePointer(h, 0, nullptr, FILE_BEGIN) == 0 && SetEndOfFile(h)) {
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &wrote, &start);
  }
  holder = static_cast<long>(GetCurrentProcessId());
  hold = std::move(held);
  return LockOutcome::kTaken;
}

}  // namespace zephor::files
