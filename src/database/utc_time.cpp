// Civil date from a count of days since 1970-01-01, by eras of 400 years.
#include "database/utc_time.h"

#include <array>
#include <charconv>
#include <cstring>
#include <string_view>

namespace zephor::database {

namespace {
constexpr std::uint32_t kInvalidBit = 0x80000000u;
constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int64_t kDaysPerEra = 146097;
constexpr std::int64_t kDaysFromYear0To1970 = 719468;  // days from 0000-03-01 to 1970-01-01
constexpr int kThursday = 4;                           // 1970-01-01
constexpr std::size_t kYearDigitsMax = 24;
constexpr int kSecondsPerHour = 3600;
constexpr int kSecondsPerMinute = 60;
constexpr int kMinutesPerHour = 60;
constexpr std::size_t kClockDigits = 2;
// "invalid time", or a long or short text with the longest year
constexpr std::size_t kTimeTextMax = 20 + kYearDigitsMax;

constexpr std::array<std::string_view, 7> kWeekdays = {"Sun", "Mon", "Tue", "Wed",
                                                       "Thu", "Fri", "Sat"};
constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

struct CivilTime {
  std::int64_t year = 0;
  int month = 1;  // 1-12
  int day = 1;    // 1-31
  int weekday = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

CivilTime ToCivil(std::uint32_t seconds) {
  const std::int64_t days = seconds / kSecondsPerDay;
  const std::int64_t rest = seconds % kSecondsPerDay;
  CivilTime t;
  t.hour = static_cast<int>(rest / kSecondsPerHour);
  t.minute = static_cast<int>(rest / kSecondsPerMinute % kMinutesPerHour);
  t.second = static_cast<int>(rest % kSecondsPerMinute);
  t.weekday = static_cast<int>((days + kThursday) % 7);

  const std::int64_t z = days + kDaysFromYear0To1970;
  const std::int64_t era = z / kDaysPerEra;
  const std::int64_t dayOfEra = z - era * kDaysPerEra;
  const std::int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;  // 0 is March
  t.day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
  t.month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
  t.year = yearOfEra + era * 400 + (t.month <= 2 ? 1 : 0);
  return t;
}

// The writers below put their characters at out and give the end; out has room for
// kTimeTextMax.
char* WriteTwoDigits(char* out, int value) {
  out[0] = static_cast<char>('0' + value / 10);
  out[1] = static_cast<char>('0' + value % 10);
  return out + kClockDigits;
}

char* WriteWord(char* out, std::string_view word) {
  std::memcpy(out, word.data(), word.size());
  return out + word.size();
}

// "Thu Jan 01"
char* WriteNames(char* out, const CivilTime& t) {
  out = WriteWord(out, kWeekdays[static_cast<std::size_t>(t.weekday)]);
  *out++ = ' ';
  out = WriteWord(out, kMonths[static_cast<std::size_t>(t.month - 1)]);
  *out++ = ' ';
  return WriteTwoDigits(out, t.day);
}

char* WriteYear(char* out, std::int64_t year) {
  return std::to_chars(out, out + kYearDigitsMax, year).ptr;
}

// "Thu Jan 01, 1970 "
char* WriteShortDate(char* out, const CivilTime& t) {
  out = WriteNames(out, t);
  *out++ = ',';
  *out++ = ' ';
  out = WriteYear(out, t.year);
  *out++ = ' ';
  return out;
}

char* WriteLongTime(char* out, std::uint32_t seconds) {
  if (seconds & kInvalidBit) return WriteWord(out, kInvalidTimeText);
  const CivilTime t = ToCivil(seconds);
  out = WriteNames(out, t);
  *out++ = ' ';
  out = WriteTwoDigits(out, t.hour);
  *out++ = ':';
  out = WriteTwoDigits(out, t.minute);
  *out++ = ':';
  out = WriteTwoDigits(out, t.second);
  *out++ = ' ';
  return WriteYear(out, t.year);
}

char* WriteShortTime(char* out, std::uint32_t seconds) {
  if (seconds & kInvalidBit) return WriteWord(out, kInvalidTimeText);
  const CivilTime t = ToCivil(seconds);
  out = WriteShortDate(out, t);
  out = WriteTwoDigits(out, t.hour);
  *out++ = ':';
  return WriteTwoDigits(out, t.minute);
}
}  // namespace

void AppendLongTimeText(std::string& text, std::uint32_t seconds) {
  char chars[kTimeTextMax];
  text.append(chars, WriteLongTime(chars, seconds));
}

void AppendShortTimeText(std::string& text, std::uint32_t seconds) {
  char chars[kTimeTextMax];
  text.append(chars, WriteShortTime(chars, seconds));
}

std::string_view ShortTimeTexts::Text(std::uint32_t seconds) {
  if (seconds & kInvalidBit) return kInvalidTimeText;
  const auto day = static_cast<std::uint32_t>(seconds / kSecondsPerDay);
  if (day != day_) {
    char* const end = WriteShortDate(text_.data(), ToCivil(seconds));
    dateLength_ = static_cast<std::size_t>(end - text_.data());
    day_ = day;
  }
  const auto rest = static_cast<int>(seconds % kSecondsPerDay);
  char* out = WriteTwoDigits(text_.data() + dateLength_, rest / kSecondsPerHour);
  *out++ = ':';
  out = WriteTwoDigits(out, rest / kSecondsPerMinute % kMinutesPerHour);
  return std::string_view(text_.data(), static_cast<std::size_t>(out - text_.data()));
}

std::string LongTimeText(std::uint32_t seconds) {
  std::string text;
  AppendLongTimeText(text, seconds);
  return text;
}

std::string ShortTimeText(std::uint32_t seconds) {
  std::string text;
  AppendShortTimeText(text, seconds);
  return text;
}

}  // namespace zephor::database
