// libFuzzer target: the record walk and the decoders over arbitrary bytes. Every record handed
// out must lie inside the buffer, follow the previous one without a gap and decode.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "database/measurement.h"
#include "database/record_walk.h"
#include "database/text12.h"

namespace {

constexpr std::size_t kOperatorOffset = 8;

void Check(bool condition) {
  if (!condition) std::abort();
}

void Walk(std::span<const std::uint8_t> data, zephor::database::EmptySurveyStep step) {
  using namespace zephor::database;
  std::size_t next = 0;
  const WalkEnd end = WalkRecords(data, step, [&](const Record& r) {
    Check(r.offset == next);
    Check(r.size == r.bytes.size());
    Check(r.offset + r.size <= data.size());
    Check(r.bytes.data() == data.data() + r.offset);
    if (r.kind == RecordKind::kSurvey) {
      Check(r.size >= kSurveyHeaderSize);
      UnpackText12(r.bytes.subspan<kOperatorOffset, kPackedTextBytes>());
      for (std::size_t i = 0; i < r.measurements; ++i) {
        const auto m = DecodeMeasurement(
            r.bytes.subspan(kSurveyHeaderSize + kMeasurementSize * i).first<kMeasurementSize>());
        Check(m.hold >= 1 && m.hold <= 16);
        Check(m.label.size() <= kPackedTextChars);
        TypeText(m.typeCode);
      }
    }
    next = r.offset + r.size;
    return true;
  });
  if (end == WalkEnd::kEndOfData) Check(next < data.size() && IsEndOfData(data[next]));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  Walk(bytes, zephor::database::EmptySurveyStep::kHeaderOnly);
  Walk(bytes, zephor::database::EmptySurveyStep::kHeaderAndTrailer);
  return 0;
}
