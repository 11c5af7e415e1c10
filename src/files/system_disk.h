// The operating system's disk: the operations every system has alike in system_disk.cpp, the
// others in one half per system (system_disk_posix.cpp, system_disk_win32.cpp).
#pragma once

#include "files/disk.h"

namespace zephor::files {

class HostDisk final : public Disk {
 public:
  std::unique_ptr<DiskFile> Create(const std::filesystem::path& path, std::string& why) override;
  std::unique_ptr<DiskFile> OpenToRead(const std::filesystem::path& path,
                                       std::string& why) override;
  std::unique_ptr<DiskFile> OpenForOutput(const std::filesystem::path& path,
                                          std::string& why) override;
  bool Rename(const std::filesystem::path& from, const std::filesystem::path& to,
              std::string& why) override;
  Removal Remove(const std::filesystem::path& path, std::string& why) override;
  bool SyncFolder(const std::filesystem::path& folder, std::string& why) override;
  bool List(const std::filesystem::path& folder, std::vector<Entry>& entries,
            std::string& why) override;
  bool Status(const std::filesystem::path& path, NameStatus& status, std::string& why) override;
  bool MakeFolder(const std::filesystem::path& path, std::string& why) override;
  LockOutcome LockFolder(const std::filesystem::path& folder, std::unique_ptr<FolderHold>& hold,
                         long& holder, std::string& why) override;
  std::int64_t WallClockSeconds() override;
};

}  // namespace zephor::files
