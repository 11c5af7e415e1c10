// The folder lock on Windows: LockFileEx on a byte of ZEPHOR.lock far past its text, so that a
// second run can still read the owner's process number; the system drops the lock with the
// process.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "files/folder_lock.h"
#include "files/system_error_text.h"

namespace zephor::files {
namespace {

constexpr DWORD kLockedByteHigh = 1;  // the byte at 4 GiB: no text reaches it
constexpr DWORD kHolderTextLimit = 32;

long ReadHolder(HANDLE h) {
  char text[kHolderTextLimit + 1] = {};
  OVERLAPPED at{};
  DWORD got = 0;
  if (!ReadFile(h, text, kHolderTextLimit, &got, &at)) return 0;
  return std::strtol(text, nullptr, 10);
}

}  // namespace

struct FolderLock::Handle {
  explicit Handle(HANDLE handle) : h(handle) {}
  ~Handle() {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE h;
};

FolderLock FolderLock::Take(const std::filesystem::path& directory) {
  FolderLock lock;
  const std::filesystem::path path = directory / kLockFileName;
  auto handle = std::make_unique<Handle>(
      CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (handle->h == INVALID_HANDLE_VALUE) {
    lock.why_ = "cannot open " + path.filename().string() + " (system error " +
                std::to_string(GetLastError()) + ")";
    return lock;
  }
  BY_HANDLE_FILE_INFORMATION facts{};
  if (!GetFileInformationByHandle(handle->h, &facts) ||
      (facts.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    lock.why_ = kNotRegularText;
    return lock;
  }
  OVERLAPPED at{};
  at.OffsetHigh = kLockedByteHigh;
  if (!LockFileEx(handle->h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    lock.outcome_ = Outcome::kBusy;
    lock.holder_ = ReadHolder(handle->h);
    return lock;
  }
  const std::string holder = std::to_string(GetCurrentProcessId()) + "\n";
  OVERLAPPED start{};
  DWORD wrote = 0;
  // The number is for the message of a second run; the lock holds without it.
  if (SetFilePointer(handle->h, 0, nullptr, FILE_BEGIN) == 0 && SetEndOfFile(handle->h)) {
    WriteFile(handle->h, holder.data(), static_cast<DWORD>(holder.size()), &wrote, &start);
  }
  lock.outcome_ = Outcome::kTaken;
  lock.holder_ = static_cast<long>(GetCurrentProcessId());
  lock.handle_ = std::move(handle);
  return lock;
}

FolderLock::FolderLock(FolderLock&&) noexcept = default;
FolderLock& FolderLock::operator=(FolderLock&&) noexcept = default;
FolderLock::~FolderLock() = default;

}  // namespace zephor::files
