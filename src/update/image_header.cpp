// Building the image headers: zero-padded decimal fields in a 0x02..0x03 frame, then a CRC-16.
#include "update/image_header.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "transfer/crc16.h"

namespace zephor::update {
namespace {

inline constexpr std::uint16_t kCrcStart = 0;
inline constexpr std::size_t kLengthDigits = 8;
inline constexpr std::size_t kCheckDigits = 5;
inline constexpr std::size_t kCodeDigits = 3;

// Writes value as zero-padded decimal digits at out; returns the position after them.
std::size_t PutDigits(std::uint8_t* out, std::size_t at, unsigned long value, std::size_t digits) {
  char text[24] = {};
  std::snprintf(text, sizeof text, "%0*lu", static_cast<int>(digits), value);
  std::memcpy(out + at, text, digits);
  return at + digits;
}

// Appends the CRC-16 of everything from the 0x02 through the 0x03, high byte first; the leading
// 0x01 stays outside the check.
void PutHeaderCrc(std::uint8_t* header, std::size_t closeAt) {
  const std::uint16_t crc = transfer::Crc16(closeAt, kCrcStart, header + 1);
  header[closeAt + 1] = static_cast<std::uint8_t>(crc >> 8);
  header[closeAt + 2] = static_cast<std::uint8_t>(crc & 0xFF);
}

}  // namespace

LongImageHeader BuildLongImageHeader(long fileLength, std::uint16_t fileCrc,
                                     std::uint8_t imageCode) {
  LongImageHeader header{};
  std::size_t at = 0;
  header[at++] = kHeaderStart;
  header[at++] = kHeaderOpen;
  at = PutDigits(header.data(), at, static_cast<unsigned long>(fileLength), kLengthDigits);
  header[at++] = kUnitSeparator;
  at = PutDigits(header.data(), at, fileCrc, kCheckDigits);
  header[at++] = kUnitSeparator;
  at = PutDigits(header.data(), at, imageCode, kCodeDigits);
  header[at] = kHeaderClose;
  PutHeaderCrc(header.data(), at);
  return header;
}

ShortImageHeader BuildShortImageHeader(long fileLength, std::uint16_t byteSum) {
  ShortImageHeader header{};
  std::size_t at = 0;
  header[at++] = kHeaderStart;
  header[at++] = kHeaderOpen;
  at = PutDigits(header.data(), at, static_cast<unsigned long>(fileLength), kLengthDigits);
  header[at++] = kUnitSeparator;
  at = PutDigits(header.data(), at, byteSum, kCheckDigits);
  header[at] = kHeaderClose;
  PutHeaderCrc(header.data(), at);
  return header;
}

std::uint16_t ImageByteSum(const std::uint8_t* data, std::size_t length) {
  unsigned sum = 0;
  for (std::size_t i = 0; i < length; ++i) sum = (sum + data[i]) & 0xFFFF;
  return static_cast<std::uint16_t>(sum);
}

bool CheckImageLength(device::OperatorPanel& panel, const std::string& fileName,
                      std::uintmax_t length) {
  if (length < kImageLengthLimit) return true;
  std::vector<char> text(std::strlen(kImageTooLargeFormat) + fileName.size() + 1);
  std::snprintf(text.data(), text.size(), kImageTooLargeFormat, fileName.c_str());
  panel.ShowMessage(text.data(), device::MessageButtons::kOk);
  return false;
}

}  // namespace zephor::update
