// One loop over a table of steps runs all three sequences; they differ only in where they start.
#include "update/update_sequences.h"

#include <array>
#include <cstddef>

#include "update/image_upload.h"

namespace zephor::update {
namespace {

using Upload = bool (*)(device::Station&, int, const std::filesystem::path&);

struct Step {
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
    {kSpecialMainBefore, UploadNewBoot, kSpecialMainAfter, false},
    {"\tLoad of new boot in progress...\r\n", UploadBoot, "\tLoad of new boot Done\r\n", false},
    {"\tLoad of new update in progress...\r\n", UploadUpdate, "\tLoad of new update Done\r\n",
     false},
    {kSpecialMainBefore, UploadSpecialMain, kSpecialMainAfter, true},
    {"\tUpdate main program in progress...\r\n", UploadMain, "\tUpdate main program Done\r\n",
     false},
}};

constexpr std::size_t kFullStart = 0;
constexpr std::size_t kUpdateStart = 2;
constexpr std::size_t kSpecialMainStart = 3;

bool RunSteps(device::Station& station, int portIndex, bool specialMain,
              const std::filesystem::path& directory, std::size_t first) {
  device::OperatorPanel& panel = *station.panel;
  panel.AppendLog("\t-----------------------\r\n");
  panel.AppendLog("\t----  Update ----\r\n");
  panel.AppendLog("\t-----------------------\r\n");
  for (std::size_t i = first; i < kSteps.size(); ++i) {
    const Step& step = kSteps[i];
    if (step.specialMainOnly && !specialMain) continue;
    // Each line goes out when its step begins, so the log shows what the upload waits for.
    panel.AppendLog(step.before);
    if (!step.upload(station, portIndex, directory)) return false;
    panel.AppendLog(step.after);
  }
  panel.AppendLog(kUpdateFinished);
  return true;
}

}  // namespace

bool RunFullUpdate(device::Station& station, int portIndex, bool specialMain,
                   const std::filesystem::path& directory) {
  return RunSteps(station, portIndex, specialMain, directory, kFullStart);
}

bool RunUpdateAndMain(device::Station& station, int portIndex, bool specialMain,
                      const std::filesystem::path& directory) {
  return RunSteps(station, portIndex, specialMain, directory, kUpdateStart);
}

bool RunMainOnly(device::Station& station, int portIndex, bool specialMain,
                 const std::filesystem::path& directory) {
  return RunSteps(station, portIndex, specialMain, directory, kSpecialMainStart);
}

}  // namespace zephor::update
