// Case-blind lookup of image file names: "Update.bin" and "update.bin" name one file.
#include "update/image_files.h"

#include <cctype>
#include <system_error>

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

}  // namespace

std::filesystem::path FindImageFile(const std::string& name,
                                    const std::filesystem::path& directory) {
  const std::filesystem::path exact = directory / name;
  std::error_code ec;
  if (std::filesystem::is_regular_file(exact, ec)) return exact;

  const std::filesystem::path where = directory.empty() ? std::filesystem::path(".") : directory;
  std::filesystem::directory_iterator it(where, ec);
  if (ec) return exact;
  for (const std::filesystem::directory_iterator end; it != end; it.increment(ec)) {
    if (ec) break;
    const std::string candidate = it->path().filename().string();
    if (SameNameIgnoringCase(candidate, name) && it->is_regular_file(ec)) return it->path();
  }
  return exact;
}

}  // namespace zephor::update
