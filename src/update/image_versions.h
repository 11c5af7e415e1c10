// The version and build stamps that the firmware images carry, and their reader for the planner.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "device/operator_panel.h"

namespace zephor::update {

inline constexpr std::string_view kVersionMarker = "Version xx";
inline constexpr std::string_view kBuildMarker = "Build xx";
inline constexpr std::size_t kStampTextSize = 5;

inline constexpr long kImageVersionMargin = 2500;
inline constexpr long kMainVersionMargin = 2000;
inline constexpr long kMainBuildMargin = 100;

inline constexpr float kDefaultBootVersion = 3.2f;
inline constexpr float kDefaultUpdateVersion = 1.2f;
inline constexpr float kDefaultMainVersion = 1.3f;
inline constexpr float kDefaultMainBuild = 1.0f;

// The names under which the planner asks for the stamped images.
inline constexpr const char* kUpdateStampFile = "Update.bin";
inline constexpr const char* kBootStampFile = "Boot.bin";
inline constexpr const char* kMainStampFile = "main.bin";

inline constexpr const char* kAllocProblemText = "Alloc problem";
inline constexpr const char* kCantOpenFileFormat = "Can't open file %s";
inline constexpr const char* kInsufficientMemoryText = "Insufficient memory available\n";

struct ImageVersions {
  float bootVersion = 0;
  float updateVersion = 0;
  float mainVersion = 0;
  float mainBuild = 0;
};

// How reading one image file for its stamps ended.
enum class ImageRead {
  kRead,          // contents scanned; stamps not found are 0
  kNoMemory,      // the contents did not fit in memory; every value is 0
  kProgramEnded,  // the file could not be opened: the program was told to exit with code 1
};

// The value of up to five bytes of stamp text, read as a number the way "%f" reads it: leading
// white space skipped, a NUL byte ends the text, 0 when it does not begin with a number.
float ReadStampText(const std::uint8_t* text, std::size_t size);

// Scans contents for marker and reads the stamp text after it; 0 when it is not found. After a
// failed candidate the scan goes on only while the next start lies before length - stopMargin.
float ScanStamp(const std::uint8_t* contents, std::size_t length, std::string_view marker,
                long stopMargin);

// The "Version xx" stamp of fileName with the image margin.
ImageRead ReadImageVersion(device::Station& station, const std::string& fileName, float& version,
                           const std::filesystem::path& directory = {});

// Version and build stamps of the main image, each scanned from the start of the file.
ImageRead ReadMainImageStamps(device::Station& station, const std::string& fileName, float& version,
                              float& build, const std::filesystem::path& directory = {});

// Reads "Update.bin", "Boot.bin" and "main.bin" in that order and puts the defaults in place of
// values that are exactly 0. False when a missing file ended the program.
bool ReadImageVersions(device::Station& station, ImageVersions& versions,
                       const std::filesystem::path& directory = {});

}  // namespace zephor::update
