// The system report parser: labels, widths and the C library's conversions.
#include "device/system_info_parser.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace zephor::device {
namespace {

DeviceInfo Parse(const std::string& text) {
  DeviceInfo info;
  ParseSystemInfo(text.data(), static_cast<int>(text.size()), info);
  return info;
}

const std::string kMain = "MAIN Version         : V";
const std::string kBoot = "BOOT Version         : V";
const std::string kUpdate = "UPDATE Version       : V";
const std::string kBuild = "Build                : ";

TEST(SystemInfoParserTest, ReadsAFullReport) {
  const DeviceInfo info =
      Parse("ZEPHOR - 100012345\r\nPCB: 200067890  ISSUE: 1 \r\n" + kBoot + "1.2\r\n" + kUpdate +
            "1.3\r\n" + kMain + "1.40 - QH\r\n" + kBuild + "112\r\n");
  EXPECT_EQ(info.equipmentNumber, 100012345);
  EXPECT_EQ(info.cardIssue, 1);
  EXPECT_EQ(info.cardNumber, 200067890);
  EXPECT_EQ(info.mainVersion, 1.4f);
  EXPECT_EQ(info.bootVersion, 1.2f);
  EXPECT_EQ(info.updateVersion, 1.3f);
  EXPECT_EQ(info.grade, "QH");
  EXPECT_EQ(info.build, 112);
}

struct VersionCase {
  const char* name;
  const char* main;
  const char* boot;
  float expected;
};

void PrintTo(const VersionCase& c, std::ostream* out) { *out << c.name; }

class VersionDivisionTest : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionDivisionTest, UndottedVersionsUpTo113) {
  const VersionCase& c = GetParam();
  const DeviceInfo info =
      Parse(kMain + c.main + "\r\n" + kBoot + c.boot + "\r\n" + kUpdate + c.boot + "\r\n");
  EXPECT_EQ(info.bootVersion, c.expected);
  EXPECT_EQ(info.updateVersion, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, VersionDivisionTest,
    ::testing::Values(VersionCase{"Main113DividesBoot", "1.13", "12 ", 12.0f / 10.0f},
                      VersionCase{"Main112DividesBoot", "1.12", "12 ", 12.0f / 10.0f},
                      VersionCase{"Main114DottedBoot", "1.14", "1.2", 1.2f},
                      VersionCase{"Main114UndottedBootKept", "1.14", "12 ", 12.0f},
                      VersionCase{"Main140DottedBoot", "1.40", "2.1", 2.1f}),
    [](const ::testing::TestParamInfo<VersionCase>& info) { return info.param.name; });

TEST(SystemInfoParserTest, MissingMainVersionDividesBoot) {
  // A main version that is not found stays 0, which is not above 1.13.
  const DeviceInfo info = Parse(kBoot + "12 \r\n");
  EXPECT_EQ(info.bootVersion, 1.2f);
}

TEST(SystemInfoParserTest, MainVersionIsSinglePrecision) {
  const DeviceInfo info = Parse(kMain + "1.13\r\n");
  EXPECT_EQ(info.mainVersion, 1.13f);
}

TEST(SystemInfoParserTest, IssueTwoSkipsTheCardLetter) {
  const DeviceInfo info = Parse("ISSUE: 2 PCB: A12345678\r\n");
  EXPECT_EQ(info.cardIssue, 2);
  EXPECT_EQ(info.cardNumber, 12345678);
}

TEST(SystemInfoParserTest, IssueOneFailsOnTheCardLetter) {
  const DeviceInfo info = Parse("ISSUE: 1 PCB: A12345678\r\n");
  EXPECT_EQ(info.cardIssue, 1);
  EXPECT_EQ(info.cardNumber, 0);
}

TEST(SystemInfoParserTest, IssueIsReadBeforeCardWhereverTheLabelsStand) {
  const DeviceInfo info = Parse("PCB: B87654321\r\nISSUE: 2\r\n");
  EXPECT_EQ(info.cardNumber, 87654321);
}

TEST(SystemInfoParserTest, IssueZeroEightIsOctalZero) {
  EXPECT_EQ(Parse("ISSUE: 08\r\n").cardIssue, 0);
}

TEST(SystemInfoParserTest, HexadecimalPrefixIsHonoured) {
  EXPECT_EQ(Parse(kBuild + "0x1F").build, 1);  // only "0x1" fits the three characters
  EXPECT_EQ(Parse(kBuild + "0x9").build, 9);
  EXPECT_EQ(Parse("ZEPHOR - 0x00000FF\r\n").equipmentNumber, 255);
}

TEST(SystemInfoParserTest, LeadingZeroReadsNumbersAsOctal) {
  EXPECT_EQ(Parse("ZEPHOR - 000000010\r\n").equipmentNumber, 8);
  EXPECT_EQ(Parse("ISSUE: 1 PCB: 000000019").cardNumber, 1);  // stops at the 9
}

struct GradeCase {
  const char* name;
  const char* characters;
  const char* expected;
};

void PrintTo(const GradeCase& c, std::ostream* out) { *out << c.name; }

class GradeTest : public ::testing::TestWithParam<GradeCase> {};

TEST_P(GradeTest, TwoCharactersSevenAfterTheMainVersion) {
  const DeviceInfo info = Parse(kMain + "1.40 - " + GetParam().characters + "\r\n");
  EXPECT_EQ(info.grade, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, GradeTest,
                         ::testing::Values(GradeCase{"BlankThenQ", " Q", "Q"},
                                           GradeCase{"QThenBlank", "Q ", "Q"},
                                           GradeCase{"QH", "QH", "QH"}, GradeCase{"QN", "QN", "QN"},
                                           GradeCase{"TwoBlanks", "  ", ""},
                                           GradeCase{"ThirdLetterDropped", "VJX", "VJ"}),
                         [](const ::testing::TestParamInfo<GradeCase>& info) {
                           return info.param.name;
                         });

TEST(SystemInfoParserTest, BlankGradeKeepsWhatTheRecordHeld) {
  DeviceInfo info;
  info.grade = "VJ";
  const std::string text = kMain + "1.40 -   \r\n";
  ParseSystemInfo(text.data(), static_cast<int>(text.size()), info);
  EXPECT_EQ(info.grade, "VJ");
}

TEST(SystemInfoParserTest, ShortValueIsFollowedByBlanks) {
  EXPECT_EQ(Parse(kBuild + "7\r\n").build, 7);
  EXPECT_EQ(Parse("ZEPHOR - 42\r\n       ").equipmentNumber, 42);
}

TEST(SystemInfoParserTest, ValueThatDoesNotConvertLeavesZero) {
  const DeviceInfo info = Parse("ZEPHOR - ABCDEFGHI\r\n" + kBuild + "xyz" + kMain + "V?.? - QH");
  EXPECT_EQ(info.equipmentNumber, 0);
  EXPECT_EQ(info.build, 0);
  EXPECT_EQ(info.mainVersion, 0.0f);
  EXPECT_EQ(info.grade, "QH");
}

TEST(SystemInfoParserTest, MissingLabelsLeaveTheRecordAlone) {
  DeviceInfo info;
  info.equipmentNumber = 7;
  info.build = 9;
  info.grade = "Q";
  const std::string text = "nothing of interest\r\n";
  ParseSystemInfo(text.data(), static_cast<int>(text.size()), info);
  EXPECT_EQ(info.equipmentNumber, 7);
  EXPECT_EQ(info.build, 9);
  EXPECT_EQ(info.grade, "Q");
}

TEST(SystemInfoParserTest, FirstOccurrenceOfALabelCounts) {
  EXPECT_EQ(Parse(kBuild + "111\r\n" + kBuild + "222\r\n").build, 111);
}

TEST(SystemInfoParserTest, LabelsMatchBlanksExactly) {
  EXPECT_EQ(Parse("Build               : 112").build, 0);  // one blank short
  EXPECT_EQ(Parse("ZEPHOR -123456789").equipmentNumber, 0);
}

TEST(SystemInfoParserTest, OnlyTheGivenLengthIsSearched) {
  const std::string text = kBuild + "112";
  DeviceInfo info;
  ParseSystemInfo(text.data(), static_cast<int>(text.size()) - 4, info);  // label cut short
  EXPECT_EQ(info.build, 0);
  ParseSystemInfo(text.data(), static_cast<int>(text.size()), info);
  EXPECT_EQ(info.build, 112);
}

// A value cut short by the end of the text, or by a zero byte, is read from the characters that
// are there followed by blanks; nothing beyond the text is read.
struct CutValueCase {
  const char* name;
  std::string text;
  std::int32_t build;
  float mainVersion;
  float bootVersion;
  const char* grade;
};

void PrintTo(const CutValueCase& c, std::ostream* out) { *out << c.name; }

class CutValueTest : public ::testing::TestWithParam<CutValueCase> {};

TEST_P(CutValueTest, ReadsWhatIsThere) {
  const CutValueCase& c = GetParam();
  std::vector<char> exact(c.text.begin(), c.text.end());
  DeviceInfo info;
  info.build = -5;
  ParseSystemInfo(exact.data(), static_cast<int>(exact.size()), info);
  EXPECT_EQ(info.build, c.build);
  EXPECT_EQ(info.mainVersion, c.mainVersion);
  EXPECT_EQ(info.bootVersion, c.bootVersion);
  EXPECT_EQ(info.grade, c.grade);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CutValueTest,
    ::testing::Values(
        CutValueCase{"LabelAtTheEnd", kBuild, -5, 0.0f, 0.0f, ""},
        CutValueCase{"OneDigit", kBuild + "1", 1, 0.0f, 0.0f, ""},
        CutValueCase{"TwoDigits", kBuild + "11", 11, 0.0f, 0.0f, ""},
        CutValueCase{"ZeroByteInTheValue", kBuild + "11" + std::string(1, '\0') + "2", 11, 0.0f,
                     0.0f, ""},
        // A main version cut after "1.4" is still 1.4: the boot version keeps its decimal point.
        CutValueCase{"MainCutAfterItsThirdCharacter", kBoot + "1.3\r\n" + kMain + "1.4", -5, 1.4f,
                     1.3f, ""},
        CutValueCase{"GradeCutToOneLetter", kMain + "1.40 - Q", -5, 1.4f, 0.0f, "Q"}),
    [](const ::testing::TestParamInfo<CutValueCase>& info) { return info.param.name; });

TEST(SystemInfoParserTest, StopsAtAZeroByte) {
  std::string text = "ZEPHOR - 000000001";
  text.push_back('\0');
  text += kBuild + "112";
  const DeviceInfo info = Parse(text);
  EXPECT_EQ(info.equipmentNumber, 1);
  EXPECT_EQ(info.build, 0);
}

TEST(SystemInfoParserTest, ZeroOrNegativeLengthReadsNothing) {
  const std::string text = kBuild + "112";
  DeviceInfo info;
  ParseSystemInfo(text.data(), 0, info);
  ParseSystemInfo(text.data(), -1, info);
  ParseSystemInfo(nullptr, 10, info);
  EXPECT_EQ(info.build, 0);
}

}  // namespace
}  // namespace zephor::device
