// One measurement of a survey block, decoded from its 24 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace zephor::database {

inline constexpr std::size_t kMeasurementSize = 24;

inline constexpr int kTypeNone = 0;     // the measurement has no type; never printed
inline constexpr int kTypeOhValue = 1;  // followed by an empty line in the report
inline constexpr int kTypeCount = 16;   // four bits of type code
inline constexpr std::size_t kTypeTextWidth = 11;

struct Measurement {
  int typeCode = kTypeNone;  // 0-15; only 0-4 have a text
  std::uint8_t hold = 0;
  std::uint8_t hatch = 0;
  std::int32_t aValue = 0;
  double level = 0.0;  // dBuV
  std::uint32_t time = 0;
  std::int32_t sensorSerial = 0;
  std::string label;
};

// The text of a type code; codes 5-15 have none and show as blanks of the same width.
std::string_view TypeText(int typeCode);

Measurement DecodeMeasurement(std::span<const std::uint8_t, kMeasurementSize> record);

}  // namespace zephor::database
