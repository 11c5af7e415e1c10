// libFuzzer target: the survey report over arbitrary bytes; the first byte picks the column choice.
#include <cstdint>
#include <span>

#include "database/survey_report.h"
#include "fuzz_panel.h"

namespace {
constexpr std::int32_t kFirstBuildWithA = 224;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const zephor::database::fuzzing::ScratchDirectory scratch("report");
  const std::filesystem::path& directory = scratch.path();
  if (size == 0) return 0;
  zephor::database::fuzzing::QuietPanel panel;
  zephor::device::Station station;
  station.panel = &panel;
  zephor::device::DeviceInfo info;
  info.equipmentNumber = static_cast<std::int32_t>(size);
  info.build = (data[0] & 1) != 0 ? kFirstBuildWithA : kFirstBuildWithA - 1;
  zephor::database::WriteSurveyReport(station, std::span<const std::uint8_t>(data + 1, size - 1),
                                      info, directory);
  return 0;
}
