// Twelve six-bit characters packed into ten bytes (operator names, measurement labels).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace zephor::database {

inline constexpr std::size_t kPackedTextBytes = 10;
inline constexpr std::size_t kPackedTextChars = 12;

// Unpacks the ten bytes and cuts trailing blanks; blanks inside the text stay.
std::string UnpackText12(std::span<const std::uint8_t, kPackedTextBytes> packed);

// The same text added to the end of text, for writers that reuse one buffer; what text held
// before is left as it was, even when it ends in blanks.
void AppendText12(std::string& text, std::span<const std::uint8_t, kPackedTextBytes> packed);

// All twelve characters into out, trailing blanks included; gives the length without them.
std::size_t UnpackText12(std::span<const std::uint8_t, kPackedTextBytes> packed,
                         std::span<char, kPackedTextChars> out);

}  // namespace zephor::database
