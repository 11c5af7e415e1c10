// Civil date from a count of days since 1970-01-01, by eras of 400 years.
#include "database/utc_time.h"

#include <array>
#include <string_view>

namespace zephor::database {

namespace {
constexpr std::uint32_t kInvalidBit = 0x80000000u;
constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int64_t kDaysPerEra = 146097;
constexpr std::int64_t kDaysFromYear0To1970 = 719468;  // days from 0000-03-01 to 1970-01-01
constexpr int kThursday = 4;                           // 1970-01-01

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
  t.hour = static_cast<int>(rest / 3600);
  t.minute = static_cast<int>(rest / 60 % 60);
  t.second = static_cast<int>(rest % 60);
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

void AppendTwoDigits(std::string& text, int value) {
  text.push_back(static_cast<char>('0' + value / 10));
  text.push_back(static_cast<char>('0' + value % 10));
}

void AppendNames(std::string& text, const CivilTime& t) {
  text += kWeekdays[static_cast<std::size_t>(t.weekday)];
  text += ' ';
  text += kMonths[static_cast<std::size_t>(t.month - 1)];
  text += ' ';
  AppendTwoDigits(text, t.day);
}
}  // namespace

std::string LongTimeText(std::uint32_t seconds) {
  if (seconds & kInvalidBit) return kInvalidTimeText;
  const CivilTime t = ToCivil(seconds);
  std::string text;
  AppendNames(text, t);
  text += ' ';
  AppendTwoDigits(text, t.hour);
  text += ':';
  AppendTwoDigits(text, t.minute);
  text += ':';
  AppendTwoDigits(text, t.second);
  text += ' ';
  text += std::to_string(t.year);
  return text;
}

std::string ShortTimeText(std::uint32_t seconds) {
  if (seconds & kInvalidBit) return kInvalidTimeText;
  const CivilTime t = ToCivil(seconds);
  std::string text;
  AppendNames(text, t);
  text += ", ";
  text += std::to_string(t.year);
  text += ' ';
  AppendTwoDigits(text, t.hour);
  text += ':';
  AppendTwoDigits(text, t.minute);
  return text;
}

}  // namespace zephor::database
