// The 80 bits are read most significant first; four bits lead and four trail the characters.
#include "database/text12.h"

namespace zephor::database {

namespace {
constexpr std::size_t kLeadingBits = 4;
constexpr std::size_t kCharBits = 6;
constexpr char kSixBitBase = 0x20;  // six-bit 0 is the blank
}  // namespace

std::string UnpackText12(std::span<const std::uint8_t, kPackedTextBytes> packed) {
  std::string text;
  text.reserve(kPackedTextChars);
  for (std::size_t k = 0; k < kPackedTextChars; ++k) {
    int code = 0;
    for (std::size_t b = 0; b < kCharBits; ++b) {
      const std::size_t bit = kLeadingBits + kCharBits * k + b;
      const int value = (packed[bit / 8] >> (7 - bit % 8)) & 1;
      code = (code << 1) | value;
    }
    text.push_back(static_cast<char>(kSixBitBase + code));
  }
  const auto last = text.find_last_not_of(' ');
  text.erase(last == std::string::npos ? 0 : last + 1);
  return text;
}

}  // namespace zephor::database
