// The system's disk on POSIX: O_NOFOLLOW and O_NONBLOCK on every open, O_EXCL on every create,
// fsync of a file and of its folder, and the folder lock by flock on ZEPHOR.lock, which the kernel
// drops with the last descriptor, so a killed run never leaves the folder locked.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "files/folder_file.h"
#include "files/folder_lock.h"
#include "files/system_disk.h"
#include "files/system_error_text.h"

namespace zephor::files {
namespace {

constexpr mode_t kFileMode = 0644;
constexpr std::size_t kHolderTextLimit = 32;

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
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  bool Close() { return ::close(release()) == 0; }

 private:
  int fd_;
};

std::string OpenFailure(int error) {
  return error == ELOOP ? std::string(kIsLinkText) : ErrnoText(error);
}

std::string CreateFailure(int error) {
  return error == EEXIST ? std::string(kInTheWayText) : OpenFailure(error);
}

class PosixFile final : public DiskFile {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}

  bool Write(std::span<const std::uint8_t> bytes, std::string& why) override {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t wrote = ::write(fd_.get(), bytes.data() + done, bytes.size() - done);
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote <= 0) {
        why = ErrnoText(wrote < 0 ? errno : EIO);
        return false;
      }
      done += static_cast<std::size_t>(wrote);
    }
    return true;
  }

  long long Read(std::span<std::uint8_t> into, std::string& why) override {
    for (;;) {
      const ssize_t got = ::read(fd_.get(), into.data(), into.size());
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) why = ErrnoText(errno);
      return got;
    }
  }

  bool Sync(std::string& why) override {
    if (::fsync(fd_.get()) == 0) return true;
    why = ErrnoText(errno);
    return false;
  }

  long long Size() override {
    struct stat facts {};
    if (::fstat(fd_.get(), &facts) != 0) return -1;
    return static_cast<long long>(facts.st_size);
  }

  bool Close(std::string& why) override {
    if (fd_.get() < 0 || fd_.Close()) return true;
    why = ErrnoText(errno);
    return false;
  }

 private:
  Descriptor fd_;
};

std::unique_ptr<DiskFile> Opened(Descriptor& fd) {
  return std::make_unique<PosixFile>(fd.release());
}

struct PosixHold final : FolderHold {
  explicit PosixHold(int descriptor) : fd(descriptor) {}
  Descriptor fd;
};

long ReadHolder(int fd) {
  char text[kHolderTextLimit + 1] = {};
  const ssize_t got = ::pread(fd, text, kHolderTextLimit, 0);
  if (got <= 0) return 0;
  return std::strtol(text, nullptr, 10);
}

}  // namespace

std::unique_ptr<DiskFile> HostDisk::Create(const std::filesystem::path& path, std::string& why) {
  Descriptor fd(
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode));
  if (fd.get() < 0) {
    why = CreateFailure(errno);
    return nullptr;
  }
  return Opened(fd);
}

std::unique_ptr<DiskFile> HostDisk::OpenToRead(const std::filesystem::path& path,
                                               std::string& why) {
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) {
    why = OpenFailure(errno);
    return nullptr;
  }
  struct stat facts {};
  if (::fstat(fd.get(), &facts) != 0) {
    why = ErrnoText(errno);
    return nullptr;
  }
  if (S_ISDIR(facts.st_mode)) {
    why = kIsFolderText;
    return nullptr;
  }
  if (!S_ISREG(facts.st_mode)) {
    why = kNotRegularText;
    return nullptr;
  }
  return Opened(fd);
}

std::unique_ptr<DiskFile> HostDisk::OpenForOutput(const std::filesystem::path& path,
                                                  std::string& why) {
  Descriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kFileMode));
  if (fd.get() < 0) {
    why = ErrnoText(errno);
    return nullptr;
  }
  return Opened(fd);
}

bool HostDisk::Rename(const std::filesystem::path& from, const std::filesystem::path& to,
                      std::string& why) {
  if (::rename(from.c_str(), to.c_str()) == 0) return true;
  why = ErrnoText(errno);
  return false;
}

Removal HostDisk::Remove(const std::filesystem::path& path, std::string& why) {
  if (::unlink(path.c_str()) == 0) return Removal::kRemoved;
  if (errno == ENOENT) return Removal::kAbsent;
  why = ErrnoText(errno);
  return Removal::kFailed;
}

// The folder's entry for a new, renamed or removed file reaches the disk only with the folder
// itself.
bool HostDisk::SyncFolder(const std::filesystem::path& folder, std::string& why) {
  Descriptor fd(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
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

LockOutcome HostDisk::LockFolder(const std::filesystem::path& folder,
                                 std::unique_ptr<FolderHold>& hold, long& holder,
                                 std::string& why) {
  const std::filesystem::path path = folder / kLockFileName;
  auto held = std::make_unique<PosixHold>(
      ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, kFileMode));
  const int fd = held->fd.get();
  if (fd < 0) {
    why = OpenFailure(errno);
    return LockOutcome::kUnusable;
  }
  struct stat facts {};
  if (::fstat(fd, &facts) != 0 || !S_ISREG(facts.st_mode)) {
    why = kNotRegularText;
    return LockOutcome::kUnusable;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) {
      why = ErrnoText(errno);
      return LockOutcome::kUnusable;
    }
    holder = ReadHolder(fd);
    return LockOutcome::kBusy;
  }
  const std::string text = std::to_string(static_cast<long>(::getpid())) + "\n";
  // The number is for the message of a second run; the lock holds without it.
  if (::ftruncate(fd, 0) == 0) {
    [[maybe_unused]] const ssize_t wrote = ::pwrite(fd, text.data(), text.size(), 0);
  }
  holder = static_cast<long>(::getpid());
  hold = std::move(held);
  return LockOutcome::kTaken;
}

}  // namespace zephor::files
