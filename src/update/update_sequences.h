// The three update sequences: a fixed series of image uploads, each narrated in the activity log.
#pragma once

#include <filesystem>

#include "device/operator_panel.h"

namespace zephor::update {

// Each returns true when every image was loaded and false at the first upload that failed,
// writing nothing more. With specialMain set main1p29.bin goes just before main.bin. Images are
// looked up in directory (the working directory when empty).

// newboot, boot, update, special main, main.
bool RunFullUpdate(device::Station& station, int portIndex, bool specialMain,
                   const std::filesystem::path& directory = {});
// update, special main, main.
bool RunUpdateAndMain(device::Station& station, int portIndex, bool specialMain,
                      const std::filesystem::path& directory = {});
// special main, main.
bool RunMainOnly(device::Station& station, int portIndex, bool specialMain,
                 const std::filesystem::path& directory = {});

}  // namespace zephor::update
