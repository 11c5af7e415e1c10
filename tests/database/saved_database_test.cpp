// Loading "ZEPHORdata.bin" and the dispatch by grade.
#include "database/saved_database.h"

#include <gtest/gtest.h>

#include "database/database_file.h"
#include "database_fixture.h"

namespace zephor::database {
namespace {

using testing::Bytes;

// One value record with code 21, then end of data and block padding.
Bytes SavedBlock() {
  Bytes block = {0x80, 0x01, 0x02, 0x15, 0x00, 0x02, 0x03, 0x04, 0x05, 0x06, 0x1A};
  block.resize(128, 0x1A);
  return block;
}
const Bytes kConverted = {0x80, 0x01, 0x02, 0x15, 0x00, 0x00, 0x07, 0xD0, 0x03, 0x04, 0x05, 0x06};

class SavedDatabaseTest : public testing::DatabaseTest {};

TEST_F(SavedDatabaseTest, LoadsTheWholeFileExactly) {
  const Bytes saved = SavedBlock();
  WriteIn(kDatabaseFileName, saved);
  const auto loaded = LoadDatabaseFile(station, directory);
  ASSERT_TRUE(loaded.has_value());
  EXPECT_EQ(*loaded, saved);
  EXPECT_TRUE(panel.messages.empty());
}

TEST_F(SavedDatabaseTest, MissingFileEndsTheProgram) {
  EXPECT_FALSE(LoadDatabaseFile(station, directory).has_value());
  ASSERT_EQ(panel.messages.size(), 1u);
  EXPECT_EQ(panel.messages[0], "Can't open file ZEPHORdata.bin");
  EXPECT_EQ(panel.exitCodes, std::vector<int>{1});
  EXPECT_EQ(ProcessSavedDatabase(station, {}, directory), SavedDatabaseOutcome::kNotLoaded);
  EXPECT_FALSE(Exists(kConversionFileName));
}

TEST_F(SavedDatabaseTest, GradeVJWritesTheReportOnly) {
  WriteIn(kDatabaseFileName, SavedBlock());
  station.grade = "VJ";
  EXPECT_EQ(ProcessSavedDatabase(station, testing::InfoWith(7, 300), directory),
            SavedDatabaseOutcome::kReportWritten);
  EXPECT_TRUE(Exists(kReportFileName));
  EXPECT_FALSE(Exists(kConversionFileName));
  EXPECT_EQ(panel.log, "");
}

TEST_F(SavedDatabaseTest, OtherGradesWriteTheConversion) {
  for (const char* grade : {"QH", "Q", "", "vj", "QN"}) {
    std::filesystem::remove(directory / kConversionFileName);
    WriteIn(kDatabaseFileName, SavedBlock());
    station.grade = grade;
    EXPECT_EQ(ProcessSavedDatabase(station, {}, directory), SavedDatabaseOutcome::kConverted)
        << grade;
    EXPECT_EQ(ReadOut(kConversionFileName), kConverted) << grade;
    EXPECT_FALSE(Exists(kReportFileName)) << grade;
  }
}

TEST_F(SavedDatabaseTest, FailedConversionIsReported) {
  WriteIn(kDatabaseFileName, SavedBlock());
  std::filesystem::create_directory(directory / kConversionFileName);  // cannot be opened
  station.grade = "QH";
  EXPECT_EQ(ProcessSavedDatabase(station, {}, directory), SavedDatabaseOutcome::kConversionFailed);
  ASSERT_EQ(panel.messages.size(), 1u);
  EXPECT_EQ(panel.messages[0], "Can't open file _Conversion.txt");
}

}  // namespace
}  // namespace zephor::database
