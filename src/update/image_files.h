// The firmware image set in the working directory, and its lookup without regard to letter case.
#pragma once

#include <filesystem>
#include <string>

#include "files/disk.h"

namespace zephor::update {

inline constexpr const char* kBootImage = "boot.bin";
inline constexpr const char* kUpdateImage = "update.bin";
inline constexpr const char* kMainImage = "main.bin";
inline constexpr const char* kNewBootImage = "newboot.bin";
inline constexpr const char* kSpecialMainImage = "main1p29.bin";

// The path of the file in directory (the working directory when empty) whose name equals name
// without regard to letter case; an exact match wins. When none matches, the name as given
// inside that directory, so that opening it fails as for any missing file.
std::filesystem::path FindImageFile(files::Disk& disk, const std::string& name,
                                    const std::filesystem::path& directory = {});

}  // namespace zephor::update
