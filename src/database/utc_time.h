// Survey times as texts, always in UTC, without the C library's time zone or locale.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zephor::database {

// Shown for a time with bit 31 set, which has no date.
inline constexpr const char* kInvalidTimeText = "invalid time";

// "Thu Jan 01 00:00:00 1970": 24 characters, day of month zero-padded.
std::string LongTimeText(std::uint32_t seconds);

// "Thu Jan 01, 1970 00:00".
std::string ShortTimeText(std::uint32_t seconds);

// The same texts added to the end of text, for writers that reuse one buffer.
void AppendLongTimeText(std::string& text, std::uint32_t seconds);
void AppendShortTimeText(std::string& text, std::uint32_t seconds);

// Short time texts for a run of times that mostly fall on the same day, as the measurements of a
// survey do: the date part is worked out again only when the day changes.
class ShortTimeTexts {
 public:
  // The text ShortTimeText gives; it stays valid until the next call.
  std::string_view Text(std::uint32_t seconds);

 private:
  static constexpr std::uint32_t kNoDay = 0xFFFFFFFF;  // no valid time has this day number
  static constexpr std::size_t kTextMax = 32;          // a valid time's year has four digits
  std::uint32_t day_ = kNoDay;
  std::size_t dateLength_ = 0;  // "Thu Jan 01, 1970 "
  std::array<char, kTextMax> text_{};
};

}  // namespace zephor::database
