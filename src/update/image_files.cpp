// Case-blind lookup of image file names: "Update.bin" and "update.bin" name one file.
#include "update/image_files.h"

#include <cctype>
#include <vector>

namespace zephor::update {
namespace {

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[i]);
    if (std::tolower(ca) != std::tolower(cb)) return false;
  }
  return true;
}

bool IsFile(files::Disk& disk, const std::filesystem::path& path) {
  files::NameStatus status;
  std::string why;
  return disk.Status(path, status, why) && status.kind == files::EntryKind::kFile;
}

}  // namespace

std::filesystem::path FindImageFile(files::Disk& disk, const std::string& name,
                                    const std::filesystem::path& directory) {
  const std::filesystem::path exact = directory / name;
  if (IsFile(disk, exact)) return exact;

  std::vector<files::Entry> entries;
  std::string why;
  if (!disk.List(directory, entries, why)) return exact;
  for (const files::Entry& entry : entries) {
    if (!SameNameIgnoringCase(entry.name, name)) continue;
    // A link is followed by the system's check of a plain file; the model sees only its kind.
    const std::filesystem::path found = directory / entry.name;
    if (IsFile(disk, found)) return found;
  }
  return exact;
}

}  // namespace zephor::update
