// One run owns a working folder at a time: an exclusive lock on a file in it, held for the whole
// run and released by the system when the process ends, however it ends.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "files/disk.h"

namespace zephor::files {

inline constexpr const char* kLockFileName = "ZEPHOR.lock";

class FolderLock {
 public:
  // kBusy: holder() names the process that holds it when it could be read; kUnusable: why()
  // says why the lock file cannot be made or opened.
  using Outcome = LockOutcome;

  // Tries to take the lock of directory (the working directory when empty) on disk without
  // waiting.
  static FolderLock Take(Disk& disk, const std::filesystem::path& directory);
  // The same on the system's disk.
  static FolderLock Take(const std::filesystem::path& directory);

  FolderLock(FolderLock&&) noexcept;
  FolderLock& operator=(FolderLock&&) noexcept;
  ~FolderLock();

  Outcome outcome() const { return outcome_; }
  bool taken() const { return outcome_ == Outcome::kTaken; }
  // The process that holds the lock, 0 when unknown.
  long holder() const { return holder_; }
  const std::string& why() const { return why_; }

 private:
  FolderLock() = default;
  Outcome outcome_ = Outcome::kUnusable;
  long holder_ = 0;
  std::string why_;
  std::unique_ptr<FolderHold> hold_;
};

}  // namespace zephor::files
