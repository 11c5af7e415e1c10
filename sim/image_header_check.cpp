// Fields are zero-padded decimal between 0x1F separators; the CRC covers 0x02 through 0x03.
#include "sim/image_header_check.h"

#include "sim/check_codes.h"

namespace zephor::sim {
namespace {

constexpr std::uint8_t kFrameStart = 0x01;
constexpr std::uint8_t kTextStart = 0x02;
constexpr std::uint8_t kTextEnd = 0x03;
constexpr std::uint8_t kSeparator = 0x1F;
constexpr std::size_t kLengthAt = 2;
constexpr std::size_t kLengthDigits = 8;
constexpr std::size_t kCheckAt = 11;
constexpr std::size_t kCheckDigits = 5;
constexpr std::size_t kCodeAt = 17;
constexpr std::size_t kCodeDigits = 3;
constexpr std::uint32_t kCheckCodeLimit = 65535;

bool ReadDigits(const std::vector<std::uint8_t>& h, std::size_t at, std::size_t count,
                std::uint32_t& value) {
  value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (h[i] < '0' || h[i] > '9') return false;
    value = value * 10 + static_cast<std::uint32_t>(h[i] - '0');
  }
  return true;
}

ImageHeaderFields Refuse(const char* why) {
  ImageHeaderFields fields;
  fields.problem = why;
  return fields;
}

}  // namespace

std::size_t HeaderSize(HeaderForm form) {
  return form == HeaderForm::kLong ? kLongHeaderSize : kShortHeaderSize;
}

ImageHeaderFields CheckImageHeader(const std::vector<std::uint8_t>& h, HeaderForm form) {
  const std::size_t size = HeaderSize(form);
  if (h.size() != size) return Refuse("header has the wrong size");
  const std::size_t endAt = size - 3;
  if (h[0] != kFrameStart || h[1] != kTextStart || h[endAt] != kTextEnd)
    return Refuse("header frame is broken");
  if (h[kLengthAt + kLengthDigits] != kSeparator) return Refuse("separator missing after length");
  if (form == HeaderForm::kLong && h[kCheckAt + kCheckDigits] != kSeparator)
    return Refuse("separator missing after check code");
  const unsigned crc = (h[endAt + 1] << kByteBits) | h[endAt + 2];
  if (InstrumentCrc16(h.data() + 1, endAt) != crc) return Refuse("header CRC does not match");
  ImageHeaderFields fields;
  std::uint32_t code = 0;
  if (!ReadDigits(h, kLengthAt, kLengthDigits, fields.length) ||
      !ReadDigits(h, kCheckAt, kCheckDigits, fields.checkCode) ||
      (form == HeaderForm::kLong && !ReadDigits(h, kCodeAt, kCodeDigits, code)))
    return Refuse("header field is not decimal");
  if (fields.checkCode > kCheckCodeLimit) return Refuse("check code out of range");
  fields.imageCode = static_cast<int>(code);
  fields.valid = true;
  return fields;
}

}  // namespace zephor::sim
