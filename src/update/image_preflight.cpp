// Every image of the sequence must be a readable regular file that the header can announce.
#include "update/image_preflight.h"

#include <cstdio>
#include <memory>
#include <optional>

#include "device/formatted_text.h"
#include "update/image_files.h"
#include "update/image_header.h"
#include "update/image_versions.h"

namespace zephor::update {
using device::Formatted;

namespace {

// The length of a plain file that opens for reading; nothing when it does not.
std::optional<std::uint64_t> ReadableLength(files::Disk& disk, const std::filesystem::path& path) {
  std::string why;
  const std::unique_ptr<files::DiskFile> file = disk.OpenToRead(path, why);
  if (!file) return std::nullopt;
  const long long size = file->Size();
  return size < 0 ? 0 : static_cast<std::uint64_t>(size);
}

}  // namespace

PreflightOutcome CheckImageSet(device::Station& station, const std::vector<std::string>& images,
                               const std::filesystem::path& directory) {
  device::OperatorPanel& panel = *station.panel;
  files::Disk& disk = device::DiskOf(station);
  for (const std::string& image : images) {
    const std::optional<std::uint64_t> length =
        ReadableLength(disk, FindImageFile(disk, image, directory));
    if (!length) {
      panel.ShowMessage(Formatted(kCantOpenFileFormat, image), device::MessageButtons::kOk);
      panel.ExitProgram(1);
      return PreflightOutcome::kProgramEnded;
    }
    if (*length == 0) {
      panel.ShowMessage(Formatted(kImageEmptyFormat, image), device::MessageButtons::kOk);
      return PreflightOutcome::kRefused;
    }
    if (!CheckImageLength(panel, image, *length)) return PreflightOutcome::kRefused;
  }
  return PreflightOutcome::kReady;
}

}  // namespace zephor::update
