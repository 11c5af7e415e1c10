// The folder lock on POSIX: flock on ZEPHOR.lock, which the kernel drops with the last descriptor,
// so a killed run never leaves the folder locked. The file holds the owner's process number.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "files/folder_lock.h"
#include "files/system_error_text.h"

namespace zephor::files {
namespace {

constexpr mode_t kLockMode = 0644;
constexpr std::size_t kHolderTextLimit = 32;

long ReadHolder(int fd) {
  char text[kHolderTextLimit + 1] = {};
  const ssize_t got = ::pread(fd, text, kHolderTextLimit, 0);
  if (got <= 0) return 0;
  return std::strtol(text, nullptr, 10);
}

}  // namespace

struct FolderLock::Handle {
  explicit Handle(int descriptor) : fd(descriptor) {}
  ~Handle() {
    if (fd >= 0) ::close(fd);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  int fd;
};

FolderLock FolderLock::Take(const std::filesystem::path& directory) {
  FolderLock lock;
  const std::filesystem::path path = directory / kLockFileName;
  auto handle = std::make_unique<Handle>(
      ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, kLockMode));
  if (handle->fd < 0) {
    lock.why_ = errno == ELOOP ? std::string(kIsLinkText) : ErrnoText(errno);
    return lock;
  }
  struct stat facts {};
  if (::fstat(handle->fd, &facts) != 0 || !S_ISREG(facts.st_mode)) {
    lock.why_ = kNotRegularText;
    return lock;
  }
  if (::flock(handle->fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) {
      lock.outcome_ = Outcome::kBusy;
      lock.holder_ = ReadHolder(handle->fd);
    } else {
      lock.why_ = ErrnoText(errno);
    }
    return lock;
  }
  const std::string holder = std::to_string(static_cast<long>(::getpid())) + "\n";
  // The number is for the message of a second run; the lock holds without it.
  if (::ftruncate(handle->fd, 0) == 0) {
    [[maybe_unused]] const ssize_t wrote = ::pwrite(handle->fd, holder.data(), holder.size(), 0);
  }
  lock.outcome_ = Outcome::kTaken;
  lock.holder_ = static_cast<long>(::getpid());
  lock.handle_ = std::move(handle);
  return lock;
}

FolderLock::FolderLock(FolderLock&&) noexcept = default;
FolderLock& FolderLock::operator=(FolderLock&&) noexcept = default;
FolderLock::~FolderLock() = default;

}  // namespace zephor::files
