// Every image of the sequence must be a readable regular file that the header can announce.
#include "update/image_preflight.h"

#include <cstdio>
#include <fstream>
#include <system_error>

#include "update/image_files.h"
#include "update/image_header.h"
#include "update/image_versions.h"

namespace zephor::update {
namespace {

std::string Formatted(const char* format, const std::string& name) {
  char text[256] = {};
  std::snprintf(text, sizeof text, format, name.c_str());
  return text;
}

bool Readable(const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return false;
  std::ifstream file(path, std::ios::binary);
  return static_cast<bool>(file);
}

}  // namespace

PreflightOutcome CheckImageSet(device::Station& station, const std::vector<std::string>& images,
                               const std::filesystem::path& directory) {
  device::OperatorPanel& panel = *station.panel;
  for (const std::string& image : images) {
    const std::filesystem::path path = FindImageFile(image, directory);
    if (!Readable(path)) {
      panel.ShowMessage(Formatted(kCantOpenFileFormat, image), device::MessageButtons::kOk);
      panel.ExitProgram(1);
      return PreflightOutcome::kProgramEnded;
    }
    std::error_code ec;
    const std::uintmax_t length = std::filesystem::file_size(path, ec);
    if (ec || length == 0) {
      panel.ShowMessage(Formatted(kImageEmptyFormat, image), device::MessageButtons::kOk);
      return PreflightOutcome::kRefused;
    }
    if (!CheckImageLength(panel, image, length)) return PreflightOutcome::kRefused;
  }
  return PreflightOutcome::kReady;
}

}  // namespace zephor::update
