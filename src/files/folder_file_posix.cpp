// The working folder's files on POSIX: O_NOFOLLOW and O_NONBLOCK on every open, O_EXCL on every
// create, fsync of the file and then of its folder before a step relies on it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "files/folder_file.h"
#include "files/system_error_text.h"

namespace zephor::files {
namespace {

constexpr mode_t kFileMode = 0644;
constexpr std::size_t kReadChunk = 65536;
constexpr const char* kTemporarySuffix = ".tmp";

// Closes a descriptor once, keeping errno of the failure that matters.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) {
      const int saved = errno;
      ::close(fd_);
      errno = saved;
    }
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

std::string OpenFailure(int error) {
  return error == ELOOP ? std::string(kIsLinkText) : ErrnoText(error);
}

bool WriteAll(int fd, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

// The folder's entry for a new or renamed file reaches the disk only with the folder itself.
bool SyncFolderOf(const std::filesystem::path& path, std::string& why) {
  std::filesystem::path folder = path.parent_path();
  if (folder.empty()) folder = ".";
  Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0) {
    why = ErrnoText(errno);
    return false;
  }
  // Some file systems cannot sync a folder; what they hold is then as safe as they make it.
  if (::fsync(fd.get()) != 0 && errno != EINVAL && errno != EROFS) {
    why = ErrnoText(errno);
    return false;
  }
  return true;
}

// Removes a stale file or link of that name; never a folder and never a link's target.
void RemoveStale(const std::filesystem::path& path) { ::unlink(path.c_str()); }

bool WriteNew(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
              std::string& why) {
  Descriptor fd(
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode));
  if (fd.get() < 0) {
    why = errno == EEXIST ? std::string(kInTheWayText) : OpenFailure(errno);
    return false;
  }
  if (!WriteAll(fd.get(), bytes) || ::fsync(fd.get()) != 0 || !fd.Close()) {
    why = ErrnoText(errno);
    RemoveStale(path);
    return false;
  }
  return true;
}

}  // namespace

bool ReadRegularFile(const std::filesystem::path& path, std::uint64_t limit, Bytes& bytes,
                     std::string& why) {
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) {
    why = OpenFailure(errno);
    return false;
  }
  struct stat facts {};
  if (::fstat(fd.get(), &facts) != 0) {
    why = ErrnoText(errno);
    return false;
  }
  if (S_ISDIR(facts.st_mode)) {
    why = kIsFolderText;
    return false;
  }
  if (!S_ISREG(facts.st_mode)) {
    why = kNotRegularText;
    return false;
  }
  if (static_cast<std::uint64_t>(facts.st_size) > limit) {
    why = TooLargeText(limit);
    return false;
  }
  Bytes read;
  read.reserve(static_cast<std::size_t>(facts.st_size));
  std::uint8_t chunk[kReadChunk];
  for (;;) {
    const ssize_t got = ::read(fd.get(), chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      why = ErrnoText(errno);
      return false;
    }
    if (got == 0) break;
    read.insert(read.end(), chunk, chunk + got);
    // A file that grows while it is read is no record to trust either.
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
  return WriteNew(path, bytes, why) && SyncFolderOf(path, why);
}

bool ReplaceContents(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                     std::string& why) {
  std::filesystem::path temporary = path;
  temporary += kTemporarySuffix;
  RemoveStale(temporary);
  if (!WriteNew(temporary, bytes, why)) return false;
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    why = ErrnoText(errno);
    RemoveStale(temporary);
    return false;
  }
  return SyncFolderOf(path, why);
}

bool RemoveDurably(const std::filesystem::path& path, std::string& why) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    why = ErrnoText(errno);
    return false;
  }
  return SyncFolderOf(path, why);
}

std::FILE* OpenNewFile(const std::filesystem::path& path, std::string& why) {
  RemoveStale(path);
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode);
  if (fd < 0) {
    why = errno == EEXIST ? std::string(kInTheWayText) : OpenFailure(errno);
    return nullptr;
  }
  std::FILE* stream = ::fdopen(fd, "wb");
  if (stream == nullptr) {
    why = ErrnoText(errno);
    ::close(fd);
  }
  return stream;
}

bool SyncStream(std::FILE* stream, std::string& why) {
  if (std::fflush(stream) != 0 || ::fsync(::fileno(stream)) != 0) {
    why = ErrnoText(errno);
    return false;
  }
  return true;
}

long long StoredSize(std::FILE* stream) {
  struct stat facts {};
  if (::fstat(::fileno(stream), &facts) != 0) return -1;
  return static_cast<long long>(facts.st_size);
}

bool RenameDurably(const std::filesystem::path& from, const std::filesystem::path& to,
                   std::string& why) {
  if (::rename(from.c_str(), to.c_str()) != 0) {
    why = ErrnoText(errno);
    return false;
  }
  return SyncFolderOf(to, why);
}

std::string LastErrorText() { return ErrnoText(errno); }

}  // namespace zephor::files
