// The firmware path as a table, so the order of the loader's questions is visible in one place.
#include "sim/firmware_steps.h"

#include <cmath>
#include <cstdlib>

#include "sim/image_stamps.h"

namespace zephor::sim {
namespace {

constexpr float kSpecialMainVersion = 1.29f;

}  // namespace

const std::vector<FirmwareStep>& FirmwareSteps() {
  static const std::vector<FirmwareStep> steps = {
      {kMainLetter, ImageKind::kNewBoot, AfterImage::kAskForBoot},
      {kBootLetter, ImageKind::kBoot, AfterImage::kAskForUpdate},
      {kUpdateLetter, ImageKind::kUpdate, AfterImage::kRunMain},
      {kMainLetter, ImageKind::kSpecialMain, AfterImage::kConvertThenRunMain},
      {kMainLetter, ImageKind::kMain, AfterImage::kRestartThenReady},
  };
  return steps;
}

const FirmwareStep* FindFirmwareStep(char letter, ImageKind kind) {
  for (const FirmwareStep& step : FirmwareSteps())
    if (step.letter == letter && step.kind == kind) return &step;
  return nullptr;
}

HeaderForm HeaderFormFor(char letter) {
  return letter == kMainLetter ? HeaderForm::kShort : HeaderForm::kLong;
}

bool ClassifyImage(char letter, const ImageHeaderFields& header,
                   const std::vector<std::uint8_t>& image, ImageKind& kind) {
  if (HeaderFormFor(letter) == HeaderForm::kLong) {
    if (header.imageCode == kBootImageCode)
      kind = ImageKind::kBoot;
    else if (header.imageCode == kUpdateImageCode)
      kind = ImageKind::kUpdate;
    else
      return false;
    return FindFirmwareStep(letter, kind) != nullptr;
  }
  const std::string version = ReadStampText(image, kVersionMarker, kMainVersionMargin);
  if (version.empty())
    kind = ImageKind::kNewBoot;
  else if (std::strtof(version.c_str(), nullptr) == kSpecialMainVersion)
    kind = ImageKind::kSpecialMain;
  else
    kind = ImageKind::kMain;
  return true;
}

const char* ImageKindName(ImageKind kind) {
  switch (kind) {
    case ImageKind::kNewBoot:
      return "newboot";
    case ImageKind::kBoot:
      return "boot";
    case ImageKind::kUpdate:
      return "update";
    case ImageKind::kSpecialMain:
      return "special main";
    case ImageKind::kMain:
      return "main";
  }
  return "?";
}

}  // namespace zephor::sim
