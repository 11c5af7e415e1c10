// The check of a sequence's image files before anything is sent to the instrument: a load that
// would fail half-way leaves the instrument's loader waiting for a program.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "device/operator_panel.h"

namespace zephor::update {

inline constexpr const char* kImageEmptyFormat =
    "Image file %s is empty: nothing can be loaded from it";

enum class PreflightOutcome { kReady, kRefused, kProgramEnded };

// Checks each image, found as the uploads find it: a file that cannot be opened ends the program
// with its "Can't open file" box (kProgramEnded); an empty or too large one is named in a box
// (kRefused).
PreflightOutcome CheckImageSet(device::Station& station, const std::vector<std::string>& images,
                               const std::filesystem::path& directory);

}  // namespace zephor::update
