// The disk as a run sees it: every file operation of a run goes through one Disk, so a test can
// stand a model disk behind the run and cut its power before any of them. The system's disk does
// what the operating system does; the helpers in folder_file.h build the durable steps over it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace zephor::files {

// What a name in a folder is, seen without following a link.
enum class EntryKind {
  kAbsent,
  kFile,
  kFolder,
  kLink,
  kOther,  // a device, a pipe or a socket
};

struct Entry {
  std::string name;
  EntryKind kind = EntryKind::kAbsent;
};

struct NameStatus {
  EntryKind kind = EntryKind::kAbsent;
  std::uint64_t size = 0;      // of a file
  std::int64_t changedAt = 0;  // when a file was last written, in the system's own units
};

enum class Removal { kRemoved, kAbsent, kFailed };

enum class LockOutcome {
  kTaken,
  kBusy,      // another run holds it
  kUnusable,  // the lock file cannot be made or opened
};

// An open file. Every failure returns false (or -1) with why in the words a technician reads.
class DiskFile {
 public:
  virtual ~DiskFile() = default;
  // Appends bytes. When the disk fills, what fitted stays in the file.
  virtual bool Write(std::span<const std::uint8_t> bytes, std::string& why) = 0;
  // Reads up to into.size() bytes from where the last read ended: the count, 0 at the end, -1.
  virtual long long Read(std::span<std::uint8_t> into, std::string& why) = 0;
  // Brings what was written to the disk: the bytes last past a power cut, the name does not
  // until its folder is synced too.
  virtual bool Sync(std::string& why) = 0;
  // The file's size now, -1 when it cannot be learned.
  virtual long long Size() = 0;
  // Closes the file; false when the system reports that written bytes were lost.
  virtual bool Close(std::string& why) = 0;
};

// The folder lock while it is held; dropping it releases the lock.
class FolderHold {
 public:
  virtual ~FolderHold() = default;
};

class Disk {
 public:
  virtual ~Disk() = default;

  // A new file for writing: never over an existing name, never through a link at it.
  virtual std::unique_ptr<DiskFile> Create(const std::filesystem::path& path, std::string& why) = 0;
  // A file for reading, refused when the name is a link, a folder, a device or a pipe; it never
  // waits for a writer at a pipe.
  virtual std::unique_ptr<DiskFile> OpenToRead(const std::filesystem::path& path,
                                               std::string& why) = 0;
  // A file the technician named for output (the line trace), opened as a shell's > opens it:
  // made or emptied, a device written as it is.
  virtual std::unique_ptr<DiskFile> OpenForOutput(const std::filesystem::path& path,
                                                  std::string& why) = 0;
  // Renames from to to, replacing a file or link at to. Lasts once the folder is synced.
  virtual bool Rename(const std::filesystem::path& from, const std::filesystem::path& to,
                      std::string& why) = 0;
  // Removes a file or a link (never a folder, never a link's target). Lasts once the folder is
  // synced.
  virtual Removal Remove(const std::filesystem::path& path, std::string& why) = 0;
  // Brings the folder's names to the disk: the files created, renamed and removed in it.
  virtual bool SyncFolder(const std::filesystem::path& folder, std::string& why) = 0;
  // The names in a folder (the working folder when empty), "." and ".." left out.
  virtual bool List(const std::filesystem::path& folder, std::vector<Entry>& entries,
                    std::string& why) = 0;
  // What path names now; kAbsent is an answer, false means it could not be learned.
  virtual bool Status(const std::filesystem::path& path, NameStatus& status, std::string& why) = 0;
  // Makes one folder whose parent exists; true when it is a folder now, made or found.
  virtual bool MakeFolder(const std::filesystem::path& path, std::string& why) = 0;
  // Takes the lock of folder without waiting: hold keeps it; holder names the process that has
  // it (the taker's own when taken, 0 when unknown).
  virtual LockOutcome LockFolder(const std::filesystem::path& folder,
                                 std::unique_ptr<FolderHold>& hold, long& holder,
                                 std::string& why) = 0;
  // Seconds since 1970 in UTC, for the dated names of backups and journals.
  virtual std::int64_t WallClockSeconds() = 0;
};

// The operating system's disk, as every program uses it.
Disk& SystemDisk();

// The folder a path's name lives in: "." for a bare name.
std::filesystem::path FolderOf(const std::filesystem::path& path);

}  // namespace zephor::files
