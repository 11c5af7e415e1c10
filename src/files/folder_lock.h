// One run owns a working folder at a time: an exclusive lock on a file in it, held for the whole
// run and released by the system when the process ends, however it ends.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace zephor::files {

inline constexpr const char* kLockFileName = "ZEPHOR.lock";

class FolderLock {
 public:
  enum class Outcome {
    kTaken,
    kBusy,      // another process holds it; holder() names it when it could be read
    kUnusable,  // the lock file cannot be made or opened; why() says why
  };

  // Tries to take the lock of directory (the working directory when empty) without waiting.
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
  struct Handle;
  FolderLock() = default;
  Outcome outcome_ = Outcome::kUnusable;
  long holder_ = 0;
  std::string why_;
  std::unique_ptr<Handle> handle_;
};

}  // namespace zephor::files
