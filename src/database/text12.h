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

}  // namespace zephor::database
