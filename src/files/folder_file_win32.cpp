// The working folder's files on Windows: reparse points (links) are opened as themselves and
// refused, CREATE_NEW on every create, FlushFileBuffers before a step relies on a file, and
// renames written through.
#include <windows.h>
// After windows.h: the C runtime's descriptors over system handles.
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cerrno>

#include "files/folder_file.h"
#include "files/system_error_text.h"

namespace zephor::files {
namespace {

constexpr DWORD kReadChunk = 65536;
constexpr const wchar_t* kTemporarySuffix = L".tmp";
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

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

bool WriteAll(HANDLE h, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD part = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, kReadChunk));
    DWORD wrote = 0;
    if (!WriteFile(h, bytes.data() + done, part, &wrote, nullptr) || wrote == 0) return false;
    done += wrote;
  }
  return true;
}

HANDLE CreateNew(const std::filesystem::path& path) {
  return CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

bool WriteNew(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
              std::string& why) {
  Handle h(CreateNew(path));
  if (!h.valid()) {
    why = LastWindowsError();
    return false;
  }
  if (!WriteAll(h.get(), bytes) || !FlushFileBuffers(h.get()) || !h.Close()) {
    why = LastWindowsError();
    DeleteFileW(path.c_str());
    return false;
  }
  return true;
}

bool MoveThrough(const std::filesystem::path& from, const std::filesystem::path& to,
                 std::string& why) {
  if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ==
      0) {
    why = LastWindowsError();
    return false;
  }
  return true;
}

}  // namespace

bool ReadRegularFile(const std::filesystem::path& path, std::uint64_t limit, Bytes& bytes,
                     std::string& why) {
  Handle h(CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!h.valid()) {
    why = LastWindowsError();
    return false;
  }
  BY_HANDLE_FILE_INFORMATION facts{};
  if (!GetFileInformationByHandle(h.get(), &facts)) {
    why = LastWindowsError();
    return false;
  }
  if ((facts.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    why = kIsLinkText;
    return false;
  }
  if ((facts.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    why = kIsFolderText;
    return false;
  }
  if (GetFileType(h.get()) != FILE_TYPE_DISK) {
    why = kNotRegularText;
    return false;
  }
  const std::uint64_t size =
      (static_cast<std::uint64_t>(facts.nFileSizeHigh) << 32) | facts.nFileSizeLow;
  if (size > limit) {
    why = TooLargeText(limit);
    return false;
  }
  Bytes read;
  read.reserve(static_cast<std::size_t>(size));
  std::uint8_t chunk[kReadChunk];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(h.get(), chunk, kReadChunk, &got, nullptr)) {
      why = LastWindowsError();
      return false;
    }
    if (got == 0) break;
    read.insert(read.end(), chunk, chunk + got);
    if (read.size() > limit) {
      why = TooLargeText(limit);
      return false;
    }
  }
  bytes = std::move(read);
  return true;
}

bool CreateNewFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                   std::string& why) {
  return WriteNew(path, bytes, why);
}

bool ReplaceContents(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                     std::string& why) {
  std::filesystem::path temporary = path;
  temporary += kTemporarySuffix;
  DeleteFileW(temporary.c_str());
  if (!WriteNew(temporary, bytes, why)) return false;
  if (!MoveThrough(temporary, path, why)) {
    DeleteFileW(temporary.c_str());
    return false;
  }
  return true;
}

// Windows has no folder sync: NTFS logs the removal of a name in its own journal, which reaches
// the disk within seconds, and in order with the metadata changes before it.
bool RemoveDurably(const std::filesystem::path& path, std::string& why) {
  if (!DeleteFileW(path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
    why = LastWindowsError();
    return false;
  }
  return true;
}

std::FILE* OpenNewFile(const std::filesystem::path& path, std::string& why) {
  DeleteFileW(path.c_str());
  Handle h(CreateNew(path));
  if (!h.valid()) {
    why = LastWindowsError();
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h.get()), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    why = ErrnoText(errno);
    return nullptr;
  }
  h.release();  // the descriptor owns the handle now
  std::FILE* stream = _fdopen(fd, "wb");
  if (stream == nullptr) {
    why = ErrnoText(errno);
    _close(fd);
  }
  return stream;
}

bool SyncStream(std::FILE* stream, std::string& why) {
  if (std::fflush(stream) != 0) {
    why = ErrnoText(errno);
    return false;
  }
  const auto h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  if (!FlushFileBuffers(h)) {
    why = LastWindowsError();
    return false;
  }
  return true;
}

long long StoredSize(std::FILE* stream) { return _filelengthi64(_fileno(stream)); }

bool RenameDurably(const std::filesystem::path& from, const std::filesystem::path& to,
                   std::string& why) {
  return MoveThrough(from, to, why);
}

std::string LastErrorText() { return LastWindowsError(); }

}  // namespace zephor::files
