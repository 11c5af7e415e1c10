// The loader's check of a framed image header: frame, separators, digits and the header's own CRC.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zephor::sim {

enum class HeaderForm {
  kLong,   // boot and update: length, file CRC-16, image code
  kShort,  // main programs: length and 16-bit byte sum
};

inline constexpr std::size_t kLongHeaderSize = 23;
inline constexpr std::size_t kShortHeaderSize = 19;
inline constexpr int kBootImageCode = 32;
inline constexpr int kUpdateImageCode = 12;

struct ImageHeaderFields {
  bool valid = false;
  std::string problem;  // why it was refused
  std::uint32_t length = 0;
  std::uint32_t checkCode = 0;  // CRC-16 (long form) or byte sum (short form)
  int imageCode = 0;            // long form only
};

std::size_t HeaderSize(HeaderForm form);
ImageHeaderFields CheckImageHeader(const std::vector<std::uint8_t>& header, HeaderForm form);

}  // namespace zephor::sim
