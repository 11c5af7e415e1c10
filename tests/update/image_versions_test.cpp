// Stamps read from crafted image files: values, defaults, the stop margins and missing files.
#include "update/image_versions.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "image_set.h"
#include "recording_panel.h"
#include "temp_dir.h"
#include "update/image_files.h"

namespace zephor::update {
namespace {

class ImageVersionsTest : public ::testing::Test {
 protected:
  void SetUp() override { station.panel = &panel; }

  float Version(const std::vector<std::uint8_t>& bytes) {
    dir.Write("boot.bin", bytes);
    float version = -1;
    EXPECT_EQ(ReadImageVersion(station, "Boot.bin", version, dir.path()), ImageRead::kRead);
    return version;
  }

  std::pair<float, float> MainStamps(const std::vector<std::uint8_t>& bytes) {
    dir.Write("main.bin", bytes);
    float version = -1;
    float build = -1;
    EXPECT_EQ(ReadMainImageStamps(station, "main.bin", version, build, dir.path()),
              ImageRead::kRead);
    return {version, build};
  }

  TempDir dir;
  RecordingPanel panel;
  device::Station station;
};

// One stamp read from one crafted file: where its text stands, what else stands before it, and
// the margins within which another 'V' or 'B' hides it.
enum class Stamp { kImageVersion, kMainVersion, kMainBuild };

struct Placed {
  long at;  // from the file's start, or before its end when negative
  std::string text;
};

struct StampCase {
  const char* name;
  Stamp stamp;
  std::size_t size;
  std::vector<Placed> placed;
  float expected;
};

void PrintTo(const StampCase& c, std::ostream* out) { *out << c.name; }

class StampTest : public ImageVersionsTest, public ::testing::WithParamInterface<StampCase> {};

TEST_P(StampTest, ReadsTheStampWhereTheLoaderWould) {
  const StampCase& c = GetParam();
  auto bytes = Filler(c.size);
  for (const Placed& p : c.placed) {
    Place(bytes,
          p.at < 0 ? c.size - static_cast<std::size_t>(-p.at) : static_cast<std::size_t>(p.at),
          p.text);
  }
  ASSERT_EQ(bytes.size(), c.size);
  switch (c.stamp) {
    case Stamp::kImageVersion:
      EXPECT_EQ(Version(bytes), c.expected);
      break;
    case Stamp::kMainVersion:
      EXPECT_EQ(MainStamps(bytes).first, c.expected);
      break;
    case Stamp::kMainBuild:
      EXPECT_EQ(MainStamps(bytes).second, c.expected);
      break;
  }
  EXPECT_TRUE(panel.messages.empty());
}

const std::string kNulInside(
    "Version xx1\0"
    "23",
    14);

INSTANTIATE_TEST_SUITE_P(
    Table, StampTest,
    ::testing::Values(
        StampCase{"StampBeforeTheMarginReadsAsItsValue",
                  Stamp::kImageVersion,
                  10000,
                  {{10, "Vx"}, {4000, "Version xx1.40"}},
                  1.4f},
        StampCase{"FiveBytesOfTextCountAtMost",
                  Stamp::kImageVersion,
                  100,
                  {{0, "Version xx12.345"}},
                  12.34f},
        StampCase{
            "LeadingBlankIsSkipped", Stamp::kImageVersion, 100, {{0, "Version xx 1.4"}}, 1.4f},
        StampCase{"NulByteEndsTheText", Stamp::kImageVersion, 100, {{0, kNulInside}}, 1.0f},
        StampCase{"LettersReadAsZero", Stamp::kImageVersion, 100, {{0, "Version xxabcde"}}, 0.0f},
        StampCase{
            "LowerCaseMarkerIsNoStamp", Stamp::kImageVersion, 100, {{0, "version xx1.40"}}, 0.0f},
        StampCase{"StampAtTheVeryEndTakesTheBytesLeft",
                  Stamp::kImageVersion,
                  40,
                  {{27, "Version xx1.4"}},
                  1.4f},
        // A short file has only its first candidate tested.
        StampCase{"ShortFileAnEarlierVHidesTheStamp",
                  Stamp::kImageVersion,
                  100,
                  {{5, "V"}, {50, "Version xx1.40"}},
                  0.0f},
        StampCase{"ShortFileTheFirstVIsTheStamp",
                  Stamp::kImageVersion,
                  100,
                  {{50, "Version xx1.40"}},
                  1.4f},
        StampCase{"BuildInTheLastHundredBytesIsFoundWhenItsBIsTheOnlyOne",
                  Stamp::kMainBuild,
                  1000,
                  {{-20, "Build xx7"}},
                  7.0f},
        StampCase{"AnotherBWithinTheLast101BytesHidesTheBuild",
                  Stamp::kMainBuild,
                  1000,
                  {{-101, "B"}, {-20, "Build xx7"}},
                  0.0f},
        StampCase{"AnotherBJustBeforeTheMarginDoesNotHideTheBuild",
                  Stamp::kMainBuild,
                  1000,
                  {{-102, "B"}, {-20, "Build xx7"}},
                  7.0f},
        StampCase{"MainVersionMarginIsTwoThousandHidden",
                  Stamp::kMainVersion,
                  5000,
                  {{-2001, "V"}, {-100, "Version xx1.40"}},
                  0.0f},
        StampCase{"MainVersionMarginIsTwoThousandFound",
                  Stamp::kMainVersion,
                  5000,
                  {{-2002, "V"}, {-100, "Version xx1.40"}},
                  1.4f},
        StampCase{"ImageVersionMarginIsTwentyFiveHundredHidden",
                  Stamp::kImageVersion,
                  6000,
                  {{-2501, "V"}, {-100, "Version xx1.40"}},
                  0.0f},
        StampCase{"ImageVersionMarginIsTwentyFiveHundredFound",
                  Stamp::kImageVersion,
                  6000,
                  {{-2502, "V"}, {-100, "Version xx1.40"}},
                  1.4f}),
    [](const ::testing::TestParamInfo<StampCase>& info) { return std::string(info.param.name); });

TEST_F(ImageVersionsTest, VersionAndBuildAreScannedEachFromTheStart) {
  auto bytes = Filler(5000);
  Place(bytes, 100, "Build xx12");
  Place(bytes, 200, "Version xx1.31");
  const auto [version, build] = MainStamps(bytes);
  EXPECT_EQ(version, 1.31f);
  EXPECT_EQ(build, 12.0f);
}

TEST_F(ImageVersionsTest, ReadsAllThreeFilesWithoutRegardToLetterCase) {
  auto update = Filler(5000);
  Place(update, 10, "Version xx1.25");
  auto boot = Filler(5000);
  Place(boot, 10, "Version xx3.40");
  auto main = Filler(5000);
  Place(main, 10, "Version xx1.40");
  Place(main, 30, "Build xx9");
  dir.Write("update.bin", update);
  dir.Write("BOOT.BIN", boot);
  dir.Write("Main.Bin", main);

  ImageVersions versions;
  ASSERT_TRUE(ReadImageVersions(station, versions, dir.path()));
  EXPECT_EQ(versions.updateVersion, 1.25f);
  EXPECT_EQ(versions.bootVersion, 3.4f);
  EXPECT_EQ(versions.mainVersion, 1.4f);
  EXPECT_EQ(versions.mainBuild, 9.0f);
  EXPECT_TRUE(panel.messages.empty());
  EXPECT_TRUE(panel.exitCodes.empty());
}

TEST_F(ImageVersionsTest, UnstampedImagesTakeTheDefaults) {
  dir.Write("update.bin", Filler(3000));
  auto boot = Filler(3000);
  Place(boot, 0, "Version xx0.00");
  dir.Write("boot.bin", boot);
  auto main = Filler(3000);
  Place(main, 0, "Version xxabcde");
  dir.Write("main.bin", main);

  ImageVersions versions;
  ASSERT_TRUE(ReadImageVersions(station, versions, dir.path()));
  EXPECT_EQ(versions.bootVersion, 3.2f);
  EXPECT_EQ(versions.updateVersion, 1.2f);
  EXPECT_EQ(versions.mainVersion, 1.3f);
  EXPECT_EQ(versions.mainBuild, 1.0f);
}

TEST_F(ImageVersionsTest, MissingMainEndsTheProgramNamingIt) {
  dir.Write("update.bin", Filler(10));
  dir.Write("boot.bin", Filler(10));

  ImageVersions versions;
  EXPECT_FALSE(ReadImageVersions(station, versions, dir.path()));
  ASSERT_EQ(panel.messages.size(), 1u);
  EXPECT_EQ(panel.messages[0], "Can't open file main.bin");
  EXPECT_EQ(panel.exitCodes, std::vector<int>{1});
}

TEST_F(ImageVersionsTest, FirstMissingFileStopsTheReading) {
  dir.Write("main.bin", Filler(10));

  ImageVersions versions;
  EXPECT_FALSE(ReadImageVersions(station, versions, dir.path()));
  ASSERT_EQ(panel.messages.size(), 1u);
  EXPECT_EQ(panel.messages[0], "Can't open file Update.bin");
  EXPECT_EQ(panel.exitCodes, std::vector<int>{1});
}

TEST_F(ImageVersionsTest, SingleReaderReportsTheEndedProgram) {
  float version = -1;
  EXPECT_EQ(ReadImageVersion(station, "Boot.bin", version, dir.path()), ImageRead::kProgramEnded);
  EXPECT_EQ(panel.messages, std::vector<std::string>{"Can't open file Boot.bin"});
  EXPECT_EQ(panel.exitCodes, std::vector<int>{1});
}

TEST(ImageFilesTest, ExactNameWinsOverOtherCase) {
  TempDir dir;
  dir.Write("main.bin", Filler(1));
  EXPECT_EQ(FindImageFile(files::SystemDisk(), "main.bin", dir.path()).filename(), "main.bin");
  // Another spelling finds the file there is, on file systems that tell case apart or not.
  std::error_code error;
  EXPECT_TRUE(std::filesystem::equivalent(
      FindImageFile(files::SystemDisk(), "MAIN.bin", dir.path()), dir.path() / "main.bin", error));
  EXPECT_EQ(FindImageFile(files::SystemDisk(), "other.bin", dir.path()).filename(), "other.bin");
}

}  // namespace
}  // namespace zephor::update
