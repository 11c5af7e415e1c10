// Reading the version stamps out of the image files: whole file in memory, marker scan, "%f" text.
#include "update/image_versions.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "device/formatted_text.h"
#include "files/folder_file.h"
#include "update/image_files.h"
#include "update/image_header.h"

namespace zephor::update {
using device::Formatted;

namespace {

inline constexpr std::size_t kScratchSize = 50;
// The contents buffer keeps a few spare bytes past the file's own, as the stamp text may end there.
inline constexpr std::size_t kContentsSpare = 5;

struct StampRequest {
  std::string_view marker;
  long stopMargin;
  float* value;
};

void EndProgram(device::Station& station, const std::string& message) {
  station.panel->ShowMessage(message, device::MessageButtons::kOk);
  station.panel->ExitProgram(1);
}

// Reads fileName whole and scans it for each requested stamp; values left 0 when not found.
ImageRead ReadStamps(device::Station& station, const std::string& fileName,
                     const std::filesystem::path& directory, const StampRequest* requests,
                     std::size_t requestCount) {
  for (std::size_t i = 0; i < requestCount; ++i) *requests[i].value = 0;

  std::unique_ptr<char[]> scratch(new (std::nothrow) char[kScratchSize]);
  if (!scratch) {
    EndProgram(station, kAllocProblemText);
    return ImageRead::kProgramEnded;
  }

  files::Disk& disk = device::DiskOf(station);
  const std::filesystem::path path = FindImageFile(disk, fileName, directory);
  files::NameStatus status;
  std::string why;
  if (!disk.Status(path, status, why) || status.kind != files::EntryKind::kFile) {
    EndProgram(station, Formatted(kCantOpenFileFormat, fileName));
    return ImageRead::kProgramEnded;
  }
  // No image is this long: its contents are not taken into memory.
  if (status.size >= kImageLengthLimit) {
    station.panel->ShowMessage(kInsufficientMemoryText, device::MessageButtons::kOk);
    return ImageRead::kNoMemory;
  }
  files::Bytes contents;
  if (!files::ReadRegularFile(disk, path, kImageLengthLimit, contents, why)) {
    EndProgram(station, Formatted(kCantOpenFileFormat, fileName));
    return ImageRead::kProgramEnded;
  }
  const std::size_t got = contents.size();
  // The stamp text may end past the file's own bytes: the spare bytes read as its end.
  contents.resize(got + kContentsSpare, 0);

  for (std::size_t i = 0; i < requestCount; ++i) {
    *requests[i].value =
        ScanStamp(contents.data(), got, requests[i].marker, requests[i].stopMargin);
  }
  return ImageRead::kRead;
}

}  // namespace

float ReadStampText(const std::uint8_t* text, std::size_t size) {
  char copy[kStampTextSize + 1] = {};
  std::memcpy(copy, text, size < kStampTextSize ? size : kStampTextSize);
  float value = 0;
  if (std::sscanf(copy, "%f", &value) != 1) return 0;
  return value;
}

float ScanStamp(const std::uint8_t* contents, std::size_t length, std::string_view marker,
                long stopMargin) {
  if (marker.empty()) return 0;
  const long stop = static_cast<long>(length) - stopMargin;
  std::size_t p = 0;
  while (p < length) {
    const void* hit = std::memchr(contents + p, static_cast<unsigned char>(marker[0]), length - p);
    if (hit == nullptr) return 0;
    const std::size_t at =
        static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - contents);
    if (length - at >= marker.size() &&
        std::memcmp(contents + at, marker.data(), marker.size()) == 0) {
      const std::size_t textStart = at + marker.size();
      const std::size_t left = length - textStart;
      return ReadStampText(contents + textStart, left < kStampTextSize ? left : kStampTextSize);
    }
    p = at + 1;
    if (static_cast<long>(p) >= stop) return 0;
  }
  return 0;
}

ImageRead ReadImageVersion(device::Station& station, const std::string& fileName, float& version,
                           const std::filesystem::path& directory) {
  const StampRequest request{kVersionMarker, kImageVersionMargin, &version};
  return ReadStamps(station, fileName, directory, &request, 1);
}

ImageRead ReadMainImageStamps(device::Station& station, const std::string& fileName, float& version,
                              float& build, const std::filesystem::path& directory) {
  const StampRequest requests[] = {{kVersionMarker, kMainVersionMargin, &version},
                                   {kBuildMarker, kMainBuildMargin, &build}};
  return ReadStamps(station, fileName, directory, requests, 2);
}

bool ReadImageVersions(device::Station& station, ImageVersions& versions,
                       const std::filesystem::path& directory) {
  versions = {};
  if (ReadImageVersion(station, kUpdateStampFile, versions.updateVersion, directory) ==
      ImageRead::kProgramEnded) {
    return false;
  }
  if (ReadImageVersion(station, kBootStampFile, versions.bootVersion, directory) ==
      ImageRead::kProgramEnded) {
    return false;
  }
  if (ReadMainImageStamps(station, kMainStampFile, versions.mainVersion, versions.mainBuild,
                          directory) == ImageRead::kProgramEnded) {
    return false;
  }
  if (versions.bootVersion == 0) versions.bootVersion = kDefaultBootVersion;
  if (versions.updateVersion == 0) versions.updateVersion = kDefaultUpdateVersion;
  if (versions.mainVersion == 0) versions.mainVersion = kDefaultMainVersion;
  if (versions.mainBuild == 0) versions.mainBuild = kDefaultMainBuild;
  return true;
}

}  // namespace zephor::update
