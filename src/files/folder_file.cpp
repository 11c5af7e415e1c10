// The durable steps over a Disk: the order of writes, syncs and renames that lets a reader after
// a power cut find either the old content or the new, never half of one.
#include "files/folder_file.h"

#include <cerrno>

#include "files/system_error_text.h"

namespace zephor::files {
namespace {

constexpr std::size_t kReadChunk = 65536;
constexpr const char* kTemporarySuffix = ".tmp";

// Removes a stale file or link of that name; never a folder and never a link's target.
void RemoveStale(Disk& disk, const std::filesystem::path& path) {
  std::string ignored;
  disk.Remove(path, ignored);
}

// Writes a new file and syncs it; its name still waits for the folder's sync.
bool WriteNew(Disk& disk, const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
              std::string& why) {
  std::unique_ptr<DiskFile> file = disk.Create(path, why);
  if (!file) return false;
  if (!file->Write(bytes, why) || !file->Sync(why) || !file->Close(why)) {
    file.reset();
    RemoveStale(disk, path);
    return false;
  }
  return true;
}

}  // namespace

std::filesystem::path FolderOf(const std::filesystem::path& path) {
  std::filesystem::path folder = path.parent_path();
  return folder.empty() ? std::filesystem::path(".") : folder;
}

bool ReadRegularFile(Disk& disk, const std::filesystem::path& path, std::uint64_t limit,
                     Bytes& bytes, std::string& why) {
  std::unique_ptr<DiskFile> file = disk.OpenToRead(path, why);
  if (!file) return false;
  const long long size = file->Size();
  if (size < 0) {
    why = ErrnoText(EIO);
    return false;
  }
  if (static_cast<std::uint64_t>(size) > limit) {
    why = TooLargeText(limit);
    return false;
  }
  Bytes read;
  read.reserve(static_cast<std::size_t>(size));
  Bytes chunk(kReadChunk);
  for (;;) {
    const long long got = file->Read(chunk, why);
    if (got < 0) return false;
    if (got == 0) break;
    read.insert(read.end(), chunk.begin(), chunk.begin() + got);
    // A file that grows while it is read is no record to trust either.
    if (read.size() > limit) {
      why = TooLargeText(limit);
      return false;
    }
  }
  bytes = std::move(read);
  return true;
}

bool CreateNewFile(Disk& disk, const std::filesystem::path& path,
                   std::span<const std::uint8_t> bytes, std::string& why) {
  return WriteNew(disk, path, bytes, why) && disk.SyncFolder(FolderOf(path), why);
}

bool ReplaceContents(Disk& disk, const std::filesystem::path& path,
                     std::span<const std::uint8_t> bytes, std::string& why) {
  std::filesystem::path temporary = path;
  temporary += kTemporarySuffix;
  RemoveStale(disk, temporary);
  if (!WriteNew(disk, temporary, bytes, why)) return false;
  if (!disk.Rename(temporary, path, why)) {
    RemoveStale(disk, temporary);
    return false;
  }
  return disk.SyncFolder(FolderOf(path), why);
}

std::unique_ptr<DiskFile> OpenNewFile(Disk& disk, const std::filesystem::path& path,
                                      std::string& why) {
  RemoveStale(disk, path);
  return disk.Create(path, why);
}

bool RenameDurably(Disk& disk, const std::filesystem::path& from, const std::filesystem::path& to,
                   std::string& why) {
  if (!disk.Rename(from, to, why)) return false;
  // A file moved between folders leaves one and enters the other: both must reach the disk.
  const std::filesystem::path source = FolderOf(from);
  const std::filesystem::path target = FolderOf(to);
  if (source != target && !disk.SyncFolder(source, why)) return false;
  return disk.SyncFolder(target, why);
}

bool RemoveDurably(Disk& disk, const std::filesystem::path& path, std::string& why) {
  if (disk.Remove(path, why) == Removal::kFailed) return false;
  return disk.SyncFolder(FolderOf(path), why);
}

bool MakeFolders(Disk& disk, const std::filesystem::path& folder, std::string& why) {
  std::filesystem::path made;
  for (const std::filesystem::path& part : folder) {
    made /= part;
    if (part.empty() || made == made.root_path() || part == ".") continue;
    if (!disk.MakeFolder(made, why)) return false;
  }
  return true;
}

bool ReadRegularFile(const std::filesystem::path& path, std::uint64_t limit, Bytes& bytes,
                     std::string& why) {
  return ReadRegularFile(SystemDisk(), path, limit, bytes, why);
}

bool CreateNewFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                   std::string& why) {
  return CreateNewFile(SystemDisk(), path, bytes, why);
}

bool ReplaceContents(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                     std::string& why) {
  return ReplaceContents(SystemDisk(), path, bytes, why);
}

bool RenameDurably(const std::filesystem::path& from, const std::filesystem::path& to,
                   std::string& why) {
  return RenameDurably(SystemDisk(), from, to, why);
}

bool RemoveDurably(const std::filesystem::path& path, std::string& why) {
  return RemoveDurably(SystemDisk(), path, why);
}

}  // namespace zephor::files
