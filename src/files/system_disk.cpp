// The system's disk where every system is alike: listings, the status of a name, new folders and
// the wall clock, through the standard library.
#include "files/system_disk.h"

#include <chrono>
#include <system_error>

#include "files/system_error_text.h"

namespace zephor::files {
namespace {

namespace fs = std::filesystem;

EntryKind KindOf(const fs::file_status& status) {
  switch (status.type()) {
    case fs::file_type::not_found:
      return EntryKind::kAbsent;
    case fs::file_type::regular:
      return EntryKind::kFile;
    case fs::file_type::directory:
      return EntryKind::kFolder;
    case fs::file_type::symlink:
      return EntryKind::kLink;
    default:
      return EntryKind::kOther;
  }
}

}  // namespace

bool HostDisk::List(const fs::path& folder, std::vector<Entry>& entries, std::string& why) {
  std::error_code error;
  fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, error);
  std::vector<Entry> found;
  for (const fs::directory_iterator end; !error && it != end; it.increment(error)) {
    std::error_code kindError;
    const fs::file_status status = it->symlink_status(kindError);
    // A name that vanished between the listing and its status is no longer in the folder.
    if (kindError) continue;
    found.push_back({it->path().filename().string(), KindOf(status)});
  }
  if (error) {
    why = ErrorCodeText(error);
    return false;
  }
  entries = std::move(found);
  return true;
}

bool HostDisk::Status(const fs::path& path, NameStatus& status, std::string& why) {
  std::error_code error;
  const fs::file_status found = fs::symlink_status(path, error);
  if (error && found.type() != fs::file_type::not_found) {
    why = ErrorCodeText(error);
    return false;
  }
  status = {KindOf(found), 0, 0};
  if (status.kind == EntryKind::kFile) {
    const std::uintmax_t size = fs::file_size(path, error);
    if (!error) status.size = size;
    const fs::file_time_type changed = fs::last_write_time(path, error);
    if (!error) status.changedAt = changed.time_since_epoch().count();
  }
  return true;
}

bool HostDisk::MakeFolder(const fs::path& path, std::string& why) {
  std::error_code error;
  fs::create_directory(path, error);
  if (error) {
    why = ErrorCodeText(error);
    return false;
  }
  // A file or link of that name is no folder to write in.
  const fs::file_status made = fs::symlink_status(path, error);
  if (error || made.type() != fs::file_type::directory) {
    why = kInTheWayText;
    return false;
  }
  return true;
}

std::int64_t HostDisk::WallClockSeconds() {
  using std::chrono::duration_cast;
  using std::chrono::seconds;
  using std::chrono::system_clock;
  return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

Disk& SystemDisk() {
  static HostDisk disk;
  return disk;
}

}  // namespace zephor::files
