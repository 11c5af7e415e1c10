// Hold and type share one byte; the level word carries the A value in its top five bits.
#include "database/measurement.h"

#include <array>

#include "database/byte_reader.h"
#include "database/text12.h"

namespace zephor::database {

namespace {
constexpr std::size_t kHoldTypeOffset = 1;
constexpr std::size_t kHatchOffset = 2;
constexpr std::size_t kLevelWordOffset = 4;
constexpr std::size_t kTimeOffset = 6;
constexpr std::size_t kSensorOffset = 10;
constexpr std::size_t kLabelOffset = 14;
constexpr int kAValueShift = 11;
constexpr int kAValueStep = 10;
constexpr std::uint16_t kRawLevelMask = 0x07FF;
constexpr double kLevelZero = 500.0;
constexpr double kLevelScale = 10.0;

constexpr std::array<std::string_view, 5> kTypeTexts = {"          ", "O.H. VALUE ", "MEASURE    ",
                                                        "DRAIN VALUE", "OTHER      "};
constexpr std::string_view kNoTypeText = "           ";
static_assert(kNoTypeText.size() == kTypeTextWidth);
}  // namespace

std::string_view TypeText(int typeCode) {
  if (typeCode >= 0 && static_cast<std::size_t>(typeCode) < kTypeTexts.size()) {
    return kTypeTexts[static_cast<std::size_t>(typeCode)];
  }
  return kNoTypeText;
}

Measurement DecodeMeasurement(std::span<const std::uint8_t, kMeasurementSize> record) {
  const ByteReader reader(record);
  Measurement m;
  const std::uint8_t holdType = reader.Byte(kHoldTypeOffset);
  m.hold = static_cast<std::uint8_t>((holdType >> 4) + 1);
  m.typeCode = holdType & 0x0F;
  m.hatch = reader.Byte(kHatchOffset);
  const std::uint16_t levelWord = reader.ReadBE16(kLevelWordOffset);
  m.aValue = kAValueStep * (levelWord >> kAValueShift);
  m.level = (static_cast<double>(levelWord & kRawLevelMask) - kLevelZero) / kLevelScale;
  m.time = reader.ReadBE32(kTimeOffset);
  m.sensorSerial = static_cast<std::int32_t>(reader.ReadBE32(kSensorOffset));
  m.label = UnpackText12(record.subspan<kLabelOffset, kPackedTextBytes>());
  return m;
}

}  // namespace zephor::database
