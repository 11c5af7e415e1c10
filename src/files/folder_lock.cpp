// The folder lock over a Disk: the disk takes it, the lock keeps it for as long as it lives.
#include "files/folder_lock.h"

namespace zephor::files {

FolderLock FolderLock::Take(Disk& disk, const std::filesystem::path& directory) {
  FolderLock lock;
  lock.outcome_ = disk.LockFolder(directory, lock.hold_, lock.holder_, lock.why_);
  return lock;
}

FolderLock FolderLock::Take(const std::filesystem::path& directory) {
  return Take(SystemDisk(), directory);
}

FolderLock::FolderLock(FolderLock&&) noexcept = default;
FolderLock& FolderLock::operator=(FolderLock&&) noexcept = default;
FolderLock::~FolderLock() = default;

}  // namespace zephor::files
