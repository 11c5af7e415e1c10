// libFuzzer target: the conversion over arbitrary bytes. The file must hold exactly the converted
// sizes of the records the walk hands out.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <span>

#include "database/conversion.h"
#include "database/database_file.h"
#include "database/measurement.h"
#include "database/record_walk.h"
#include "fuzz_panel.h"

namespace {

constexpr std::size_t kConvertedValueSize = 12;
constexpr std::size_t kConvertedMeasurementSize = 26;

std::uintmax_t ConvertedSize(std::span<const std::uint8_t> data) {
  using namespace zephor::database;
  std::uintmax_t total = 0;
  WalkRecords(data, EmptySurveyStep::kHeaderOnly, [&](const Record& r) {
    if (r.kind == RecordKind::kPlain) total += kPlainRecordSize;
    if (r.kind == RecordKind::kValue) total += kConvertedValueSize;
    if (r.kind == RecordKind::kSurvey) {
      total += r.noMeasurements ? kSurveyHeaderSize
                                : kSurveyHeaderSize + kConvertedMeasurementSize * r.measurements +
                                      kSurveyTrailerSize;
    }
    return true;
  });
  return total;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const zephor::database::fuzzing::ScratchDirectory scratch("conversion");
  const std::filesystem::path& directory = scratch.path();
  zephor::database::fuzzing::QuietPanel panel;
  zephor::device::Station station;
  station.panel = &panel;
  const std::span<const std::uint8_t> bytes(data, size);
  if (!zephor::database::ConvertDatabase(station, bytes, directory)) return 0;
  const auto written =
      std::filesystem::file_size(directory / zephor::database::kConversionFileName);
  if (written != ConvertedSize(bytes)) std::abort();
  return 0;
}
