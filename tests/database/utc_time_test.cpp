// Long and short time texts in UTC, from the days-to-date conversion.
#include "database/utc_time.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace zephor::database {
namespace {

struct TimeCase {
  std::uint32_t seconds;
  const char* longText;
  const char* shortText;
};

void PrintTo(const TimeCase& c, std::ostream* out) { *out << c.seconds << " s: " << c.longText; }

class UtcTimeTest : public ::testing::TestWithParam<TimeCase> {};

TEST_P(UtcTimeTest, FormatsBothForms) {
  EXPECT_EQ(LongTimeText(GetParam().seconds), GetParam().longText);
  EXPECT_EQ(ShortTimeText(GetParam().seconds), GetParam().shortText);
}

INSTANTIATE_TEST_SUITE_P(
    KnownDates, UtcTimeTest,
    ::testing::Values(TimeCase{0, "Thu Jan 01 00:00:00 1970", "Thu Jan 01, 1970 00:00"},
                      TimeCase{68256000, "Wed Mar 01 00:00:00 1972", "Wed Mar 01, 1972 00:00"},
                      TimeCase{951782400, "Tue Feb 29 00:00:00 2000", "Tue Feb 29, 2000 00:00"},
                      TimeCase{1000000000, "Sun Sep 09 01:46:40 2001", "Sun Sep 09, 2001 01:46"},
                      TimeCase{1234567890, "Fri Feb 13 23:31:30 2009", "Fri Feb 13, 2009 23:31"},
                      TimeCase{2147483647, "Tue Jan 19 03:14:07 2038", "Tue Jan 19, 2038 03:14"},
                      TimeCase{0x80000000u, "invalid time", "invalid time"},
                      TimeCase{0xFFFFFFFEu, "invalid time", "invalid time"}),
    [](const ::testing::TestParamInfo<TimeCase>& info) {
      return "Second" + std::to_string(info.param.seconds);
    });

TEST(UtcTimeLengthTest, LongFormIsTwentyFourCharacters) {
  for (std::uint32_t t = 0; t < 0x7FFFFFFFu - 86400u * 97u; t += 86400u * 97u + 3599u) {
    ASSERT_EQ(LongTimeText(t).size(), 24u) << t;
  }
}

}  // namespace
}  // namespace zephor::database
