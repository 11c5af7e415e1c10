// The update sequences: a fixed series of image uploads, each narrated in the activity log.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "device/operator_panel.h"

namespace zephor::update {

// Where a sequence starts along the full series newboot, boot, update, special main, main. The
// loader that asks for its boot program has its newboot already: it is served from kBoot.
enum class SequenceStart { kNewBoot, kBoot, kUpdate, kSpecialMain };

// Told the image's file name after each image was loaded.
using ImageDone = std::function<void(const std::string& image)>;

// The image files a sequence loads, in order.
std::vector<std::string> SequenceImages(SequenceStart start, bool specialMain);

// Runs a sequence: true when every image was loaded, false at the first upload that failed,
// writing nothing more. With specialMain set main1p29.bin goes just before main.bin. Images are
// looked up in directory (the working directory when empty).
bool RunSequence(device::Station& station, int portIndex, bool specialMain,
                 const std::filesystem::path& directory, SequenceStart start,
                 const ImageDone& loaded = {});

// What a loader that asked for its boot ("B", kBoot) or update ("U", kUpdate) program takes before
// its own main runs again: boot.bin and update.bin, or update.bin.
std::vector<std::string> LoaderProgramImages(SequenceStart start);

// Loads those programs only, narrated as a sequence; no main follows, the instrument starts its
// own. False at the first upload that failed.
bool RunLoaderPrograms(device::Station& station, int portIndex,
                       const std::filesystem::path& directory, SequenceStart start);

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
