// Which loader takes which image, and what the instrument does once an image is in.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/image_header_check.h"

namespace zephor::sim {

inline constexpr char kBootLetter = 'B';
inline constexpr char kUpdateLetter = 'U';
inline constexpr char kMainLetter = 'S';

enum class ImageKind { kNewBoot, kBoot, kUpdate, kSpecialMain, kMain };

enum class AfterImage {
  kAskForBoot,          // the loader restarts and asks for the boot program
  kAskForUpdate,        // the boot program is in; the loader asks for the update program
  kRunMain,             // back to the main program, no announcement
  kConvertThenRunMain,  // the special main converts the memory and says "end dBase convertion"
  kRestartThenReady,    // a new main program restarts and says "READY"
};

struct FirmwareStep {
  char letter;  // the loader that takes the image
  ImageKind kind;
  AfterImage next;
};

// The whole firmware path: newboot (S) -> boot (B) -> update (U) -> main again; special main
// (S) -> conversion; main (S) -> READY.
const std::vector<FirmwareStep>& FirmwareSteps();

// The step for an image of kind arriving at the loader that asked with letter; null when that
// loader does not take it.
const FirmwareStep* FindFirmwareStep(char letter, ImageKind kind);

// The header form a loader expects.
HeaderForm HeaderFormFor(char letter);

// Long headers name their image by code. A short-header image is a main program when it carries
// a version stamp: the stamp 1.29 marks the special main that converts the memory, any other
// version a main program; an image without a version stamp is the newboot.
bool ClassifyImage(char letter, const ImageHeaderFields& header,
                   const std::vector<std::uint8_t>& image, ImageKind& kind);

const char* ImageKindName(ImageKind kind);

}  // namespace zephor::sim
