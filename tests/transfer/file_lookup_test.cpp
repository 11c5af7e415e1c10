// The sender's file list.
#include "transfer/file_lookup.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "temp_dir.h"

namespace zephor::transfer {
namespace {

class FileLookupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir / "sub.bin");
    std::ofstream(dir / "update.bin") << "u";
    std::ofstream(dir / "boot.bin") << "b";
    prefix = dir.string() + "/";
  }
  std::string Find(const std::string& fileList) {
    FileSource source;
    source.remaining = fileList;
    return LookUpFile(files::SystemDisk(), source) ? source.foundPath : std::string("<none>");
  }
  // One folder per test: ctest runs the cases of this file side by side.
  const support::TempDir scratch;
  const std::filesystem::path dir = scratch.path();
  std::string prefix;
};

TEST(MatchNameTest, WildcardsAndLetterCase) {
  EXPECT_TRUE(MatchName("*.bin", "main.bin"));
  EXPECT_TRUE(MatchName("MAIN?P29.BIN", "main1p29.bin"));
  EXPECT_TRUE(MatchName("*", "x"));
  EXPECT_FALSE(MatchName("*.bin", "main.bi"));
  EXPECT_FALSE(MatchName("?oot.bin", "boot.bim"));
  EXPECT_TRUE(MatchName("b*t*.b?n", "boot.bin"));
}

TEST_F(FileLookupTest, NameIsMatchedWithoutRegardToCase) {
  // The found path names the one file, whether the file system keeps letter case apart or not.
  std::error_code error;
  EXPECT_TRUE(std::filesystem::equivalent(Find(prefix + "Update.bin"), dir / "update.bin", error));
}

TEST_F(FileLookupTest, MissingFirstPatternFallsToTheNext) {
  EXPECT_EQ(Find(prefix + "missing.bin," + prefix + "boot.bin"), prefix + "boot.bin");
  EXPECT_EQ(Find(" ; " + prefix + "missing.bin ;" + prefix + "BOOT.*"), prefix + "boot.bin");
}

TEST_F(FileLookupTest, DirectoriesAreNotFiles) {
  EXPECT_EQ(Find(prefix + "sub.bin"), "<none>");
  EXPECT_EQ(Find(prefix + "s*"), "<none>");
  EXPECT_EQ(Find(prefix), "<none>");
  EXPECT_EQ(Find(""), "<none>");
}

TEST_F(FileLookupTest, WildcardFindsTheFirstName) {
  EXPECT_EQ(Find(prefix + "*.bin"), prefix + "boot.bin");
}

}  // namespace
}  // namespace zephor::transfer
