// Survey times as texts, always in UTC, without the C library's time zone or locale.
#pragma once

#include <cstdint>
#include <string>

namespace zephor::database {

// Shown for a time with bit 31 set, which has no date.
inline constexpr const char* kInvalidTimeText = "invalid time";

// "Thu Jan 01 00:00:00 1970": 24 characters, day of month zero-padded.
std::string LongTimeText(std::uint32_t seconds);

// "Thu Jan 01, 1970 00:00".
std::string ShortTimeText(std::uint32_t seconds);

}  // namespace zephor::database
