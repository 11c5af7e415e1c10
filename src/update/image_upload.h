// The five image uploads: read the image, wait for the loader's letter, send the header and the
// file.
#pragma once

#include <filesystem>

#include "device/operator_panel.h"

namespace zephor::update {

inline constexpr const char* kUpdateBanner = ".QLX International Update Sequence...";
inline constexpr const char* kConversionDoneText = "end dBase convertion";
inline constexpr const char* kNoResponseLetterText = "Update stopped !!!  no response ZEPHOR \n";
inline constexpr const char* kNoResponseText = "Update stopped !!!  no response ZEPHOR\n";
inline constexpr const char* kNoResponseCharFormat = "Update stopped !!!  no response ZEPHOR %c\n";
inline constexpr const char* kTransferErrorFormat = "Error in file transfer %i";

// Each returns true when its image was loaded. The image is looked up in directory (the working
// directory when empty); a missing image ends the program. A failed transfer returns false.
bool UploadBoot(device::Station& station, int portIndex,
                const std::filesystem::path& directory = {});
bool UploadUpdate(device::Station& station, int portIndex,
                  const std::filesystem::path& directory = {});
bool UploadNewBoot(device::Station& station, int portIndex,
                   const std::filesystem::path& directory = {});
bool UploadSpecialMain(device::Station& station, int portIndex,
                       const std::filesystem::path& directory = {});
bool UploadMain(device::Station& station, int portIndex,
                const std::filesystem::path& directory = {});

}  // namespace zephor::update
