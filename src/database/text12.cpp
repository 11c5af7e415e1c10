// The 80 bits are read most significant first; four bits lead and four trail the characters.
#include "database/text12.h"

namespace zephor::database {

namespace {
constexpr std::size_t kLeadingBits = 4;
constexpr std::size_t kCharBits = 6;
constexpr unsigned kCharMask = 0x3F;
constexpr std::size_t kWindowBits = 16;
constexpr char kSixBitBase = 0x20;  // six-bit 0 is the blank
constexpr char kBlank = ' ';

// A character never spans more than two bytes, so a 16-bit window over the byte that holds its
// first bit always holds all six; the last character ends four bits before the last byte.
char CharAt(std::span<const std::uint8_t, kPackedTextBytes> packed, std::size_t index) {
  const std::size_t bit = kLeadingBits + kCharBits * index;
  const std::size_t byte = bit / 8;
  const unsigned window = (unsigned{packed[byte]} << 8) | packed[byte + 1];
  const unsigned code = (window >> (kWindowBits - kCharBits - bit % 8)) & kCharMask;
  return static_cast<char>(kSixBitBase + static_cast<int>(code));
}
}  // namespace

std::size_t UnpackText12(std::span<const std::uint8_t, kPackedTextBytes> packed,
                         std::span<char, kPackedTextChars> out) {
  std::size_t length = 0;
  for (std::size_t k = 0; k < kPackedTextChars; ++k) {
    out[k] = CharAt(packed, k);
    length = out[k] != kBlank ? k + 1 : length;
  }
  return length;
}

void AppendText12(std::string& text, std::span<const std::uint8_t, kPackedTextBytes> packed) {
  char chars[kPackedTextChars];
  text.append(chars, UnpackText12(packed, chars));
}

std::string UnpackText12(std::span<const std::uint8_t, kPackedTextBytes> packed) {
  std::string text(kPackedTextChars, kBlank);
  text.resize(UnpackText12(packed, std::span<char, kPackedTextChars>(text.data(), text.size())));
  return text;
}

}  // namespace zephor::database
