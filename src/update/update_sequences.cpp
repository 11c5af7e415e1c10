// One loop over a table of steps runs all three sequences; they differ only in where they start.
#include "update/update_sequences.h"

#include <array>
#include <cstddef>

#include "update/image_files.h"
#include "update/image_upload.h"

namespace zephor::update {
namespace {

using Upload = bool (*)(device::Station&, int, const std::filesystem::path&);

struct Step {
  const char* image;
  const char* before;
  Upload upload;
  const char* after;
  bool specialMainOnly;
};

constexpr const char* kSpecialMainBefore = "\tLoad of special main in progress...\r\n";
constexpr const char* kSpecialMainAfter = "\tLoad of special main Done\r\n";
constexpr const char* kUpdateFinished = "\tUpdate finished.\r\n";

// The full series; the shorter sequences start part-way along it. The newboot image is a
// special main itself, so its step writes the special main's lines.
constexpr std::array<Step, 5> kSteps{{
    {kNewBootImage, kSpecialMainBefore, UploadNewBoot, kSpecialMainAfter, false},
    {kBootImage, "\tLoad of new boot in progress...\r\n", UploadBoot, "\tLoad of new boot Done\r\n",
     false},
    {kUpdateImage, "\tLoad of new update in progress...\r\n", UploadUpdate,
     "\tLoad of new update Done\r\n", false},
    {kSpecialMainImage, kSpecialMainBefore, UploadSpecialMain, kSpecialMainAfter, true},
    {kMainImage, "\tUpdate main program in progress...\r\n", UploadMain,
     "\tUpdate main program Done\r\n", false},
}};

std::size_t FirstStep(SequenceStart start) { return static_cast<std::size_t>(start); }
// The boot and update programs come before it; the loader takes those on its own.
constexpr std::size_t kFirstMainStep = static_cast<std::size_t>(SequenceStart::kSpecialMain);

bool Skipped(const Step& step, bool specialMain) { return step.specialMainOnly && !specialMain; }

}  // namespace

std::vector<std::string> SequenceImages(SequenceStart start, bool specialMain) {
  std::vector<std::string> images;
  for (std::size_t i = FirstStep(start); i < kSteps.size(); ++i) {
    if (!Skipped(kSteps[i], specialMain)) images.emplace_back(kSteps[i].image);
  }
  return images;
}

namespace {

// Runs the steps from first up to (not including) end, each narrated; false at the first upload
// that failed.
bool RunSteps(device::Station& station, int portIndex, bool specialMain,
              const std::filesystem::path& directory, std::size_t first, std::size_t end,
              const ImageDone& loaded) {
  device::OperatorPanel& panel = *station.panel;
  panel.AppendLog("\t-----------------------\r\n");
  panel.AppendLog("\t----  Update ----\r\n");
  panel.AppendLog("\t-----------------------\r\n");
  for (std::size_t i = first; i < end; ++i) {
    const Step& step = kSteps[i];
    if (Skipped(step, specialMain)) continue;
    // Each line goes out when its step begins, so the log shows what the upload waits for.
    panel.AppendLog(step.before);
    if (!step.upload(station, portIndex, directory)) return false;
    if (loaded) loaded(step.image);
    panel.AppendLog(step.after);
  }
  return true;
}

}  // namespace

bool RunSequence(device::Station& station, int portIndex, bool specialMain,
                 const std::filesystem::path& directory, SequenceStart start,
                 const ImageDone& loaded) {
  if (!RunSteps(station, portIndex, specialMain, directory, FirstStep(start), kSteps.size(),
                loaded)) {
    return false;
  }
  station.panel->AppendLog(kUpdateFinished);
  return true;
}

std::vector<std::string> LoaderProgramImages(SequenceStart start) {
  std::vector<std::string> images;
  for (std::size_t i = FirstStep(start); i < kFirstMainStep; ++i) {
    images.emplace_back(kSteps[i].image);
  }
  return images;
}

bool RunLoaderPrograms(device::Station& station, int portIndex,
                       const std::filesystem::path& directory, SequenceStart start) {
  return RunSteps(station, portIndex, false, directory, FirstStep(start), kFirstMainStep, {});
}

bool RunFullUpdate(device::Station& station, int portIndex, bool specialMain,
                   const std::filesystem::path& directory) {
  return RunSequence(station, portIndex, specialMain, directory, SequenceStart::kNewBoot);
}

bool RunUpdateAndMain(device::Station& station, int portIndex, bool specialMain,
                      const std::filesystem::path& directory) {
  return RunSequence(station, portIndex, specialMain, directory, SequenceStart::kUpdate);
}

bool RunMainOnly(device::Station& station, int portIndex, bool specialMain,
                 const std::filesystem::path& directory) {
  return RunSequence(station, portIndex, specialMain, directory, SequenceStart::kSpecialMain);
}

}  // namespace zephor::update
