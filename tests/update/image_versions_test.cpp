// Stamps read from crafted image files: values, defaults, the stop margins and missing files.
#include "update/image_versions.h"

#include <gtest/gtest.h>

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

TEST_F(ImageVersionsTest, StampBeforeTheMarginReadsAsItsValue) {
  auto bytes = Filler(10000);
  Place(bytes, 10, "Vx");
  Place(bytes, 4000, "Version xx1.40");
  EXPECT_EQ(Version(bytes), 1.4f);
  EXPECT_TRUE(panel.messages.empty());
}

TEST_F(ImageVersionsTest, FiveBytesOfTextCountAtMost) {
  auto bytes = Filler(100);
  Place(bytes, 0, "Version xx12.345");
  EXPECT_EQ(Version(bytes), 12.34f);
}

TEST_F(ImageVersionsTest, LeadingBlankIsSkipped) {
  auto bytes = Filler(100);
  Place(bytes, 0, "Version xx 1.4");
  EXPECT_EQ(Version(bytes), 1.4f);
}

TEST_F(ImageVersionsTest, NulByteEndsTheText) {
  auto bytes = Filler(100);
  Place(bytes, 0, "Version xx1");
  bytes[11] = 0;
  Place(bytes, 12, "23");
  EXPECT_EQ(Version(bytes), 1.0f);
}

TEST_F(ImageVersionsTest, LettersReadAsZero) {
  auto bytes = Filler(100);
  Place(bytes, 0, "Version xxabcde");
  EXPECT_EQ(Version(bytes), 0.0f);
}

TEST_F(ImageVersionsTest, LowerCaseMarkerIsNoStamp) {
  auto bytes = Filler(100);
  Place(bytes, 0, "version xx1.40");
  EXPECT_EQ(Version(bytes), 0.0f);
}

TEST_F(ImageVersionsTest, StampAtTheVeryEndTakesTheBytesLeft) {
  auto bytes = Filler(40);
  Place(bytes, 27, "Version xx1.4");
  ASSERT_EQ(bytes.size(), 40u);
  EXPECT_EQ(Version(bytes), 1.4f);
}

TEST_F(ImageVersionsTest, ShortFileHasOnlyItsFirstCandidateTested) {
  auto bytes = Filler(100);
  Place(bytes, 5, "V");
  Place(bytes, 50, "Version xx1.40");
  EXPECT_EQ(Version(bytes), 0.0f);

  auto first = Filler(100);
  Place(first, 50, "Version xx1.40");
  EXPECT_EQ(Version(first), 1.4f);
}

TEST_F(ImageVersionsTest, BuildInTheLastHundredBytesIsFoundWhenItsBIsTheOnlyOne) {
  const std::size_t size = 1000;
  auto bytes = Filler(size);
  Place(bytes, size - 20, "Build xx7");
  EXPECT_EQ(MainStamps(bytes).second, 7.0f);
}

TEST_F(ImageVersionsTest, AnotherBWithinTheLast101BytesHidesTheBuild) {
  const std::size_t size = 1000;
  auto bytes = Filler(size);
  Place(bytes, size - 101, "B");
  Place(bytes, size - 20, "Build xx7");
  EXPECT_EQ(MainStamps(bytes).second, 0.0f);
}

TEST_F(ImageVersionsTest, AnotherBJustBeforeTheMarginDoesNotHideTheBuild) {
  const std::size_t size = 1000;
  auto bytes = Filler(size);
  Place(bytes, size - 102, "B");
  Place(bytes, size - 20, "Build xx7");
  EXPECT_EQ(MainStamps(bytes).second, 7.0f);
}

TEST_F(ImageVersionsTest, MainVersionMarginIsTwoThousand) {
  const std::size_t size = 5000;
  auto hidden = Filler(size);
  Place(hidden, size - 2001, "V");
  Place(hidden, size - 100, "Version xx1.40");
  EXPECT_EQ(MainStamps(hidden).first, 0.0f);

  auto found = Filler(size);
  Place(found, size - 2002, "V");
  Place(found, size - 100, "Version xx1.40");
  EXPECT_EQ(MainStamps(found).first, 1.4f);
}

TEST_F(ImageVersionsTest, ImageVersionMarginIsTwentyFiveHundred) {
  const std::size_t size = 6000;
  auto hidden = Filler(size);
  Place(hidden, size - 2501, "V");
  Place(hidden, size - 100, "Version xx1.40");
  EXPECT_EQ(Version(hidden), 0.0f);

  auto found = Filler(size);
  Place(found, size - 2502, "V");
  Place(found, size - 100, "Version xx1.40");
  EXPECT_EQ(Version(found), 1.4f);
}

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
