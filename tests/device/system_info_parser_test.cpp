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

// One field read from a report: the C library's conversions (octal after a leading zero, a
// hexadecimal prefix, blanks after a short value), labels matched blank for blank, the first of
// two labels, and the card letter that only issue 2 skips.
struct FieldCase {
  const char* name;
  std::string text;
  double (*field)(const DeviceInfo&);
  double expected;
};

void PrintTo(const FieldCase& c, std::ostream* out) { *out << c.name; }

double EquipmentNumber(const DeviceInfo& info) { return info.equipmentNumber; }
double CardNumber(const DeviceInfo& info) { return info.cardNumber; }
double CardIssue(const DeviceInfo& info) { return info.cardIssue; }
double Build(const DeviceInfo& info) { return info.build; }
double MainVersion(const DeviceInfo& info) { return info.mainVersion; }
double BootVersion(const DeviceInfo& info) { return info.bootVersion; }

class FieldTest : public ::testing::TestWithParam<FieldCase> {};

TEST_P(FieldTest, ReadsTheValueAfterItsLabel) {
  const FieldCase& c = GetParam();
  EXPECT_EQ(c.field(Parse(c.text)), c.expected) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, FieldTest,
    ::testing::Values(
        // A main version that is not found stays 0, which is not above 1.13.
        FieldCase{"MissingMainVersionDividesBoot", kBoot + "12 \r\n", BootVersion, 1.2f},
        FieldCase{"MainVersionIsSinglePrecision", kMain + "1.13\r\n", MainVersion, 1.13f},
        FieldCase{"IssueTwoIsRead", "ISSUE: 2 PCB: A12345678\r\n", CardIssue, 2},
        FieldCase{"IssueTwoSkipsTheCardLetter", "ISSUE: 2 PCB: A12345678\r\n", CardNumber,
                  12345678},
        FieldCase{"IssueOneIsRead", "ISSUE: 1 PCB: A12345678\r\n", CardIssue, 1},
        FieldCase{"IssueOneFailsOnTheCardLetter", "ISSUE: 1 PCB: A12345678\r\n", CardNumber, 0},
        FieldCase{"IssueIsReadBeforeCardWhereverTheLabelsStand", "PCB: B87654321\r\nISSUE: 2\r\n",
                  CardNumber, 87654321},
        FieldCase{"IssueZeroEightIsOctalZero", "ISSUE: 08\r\n", CardIssue, 0},
        // Only "0x1" fits the three characters of a build.
        FieldCase{"HexadecimalPrefixCutToThree", kBuild + "0x1F", Build, 1},
        FieldCase{"HexadecimalBuild", kBuild + "0x9", Build, 9},
        FieldCase{"HexadecimalEquipmentNumber", "ZEPHOR - 0x00000FF\r\n", EquipmentNumber, 255},
        FieldCase{"LeadingZeroReadsOctal", "ZEPHOR - 000000010\r\n", EquipmentNumber, 8},
        FieldCase{"OctalStopsAtTheNine", "ISSUE: 1 PCB: 000000019", CardNumber, 1},
        FieldCase{"ShortBuildFollowedByBlanks", kBuild + "7\r\n", Build, 7},
        FieldCase{"ShortNumberFollowedByBlanks", "ZEPHOR - 42\r\n       ", EquipmentNumber, 42},
        FieldCase{"FirstOccurrenceOfALabelCounts", kBuild + "111\r\n" + kBuild + "222\r\n", Build,
                  111},
        FieldCase{"LabelOneBlankShort", "Build               : 112", Build, 0},
        FieldCase{"LabelWithoutItsBlank", "ZEPHOR -123456789", EquipmentNumber, 0}),
    [](const ::testing::TestParamInfo<FieldCase>& info) { return info.param.name; });

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
