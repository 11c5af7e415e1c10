// zephor db report, convert and dump as a program, on files in a scratch directory.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>

#include "database/conversion.h"
#include "database/database_file.h"
#include "database_fixture.h"
#include "sim/database_generator.h"

namespace zephor::database::testing {
namespace {

constexpr const char* kZephor = ZEPHOR_CLI_PATH;

class DbCliTest : public DatabaseTest {
 protected:
  // Runs zephor with the arguments in the scratch directory; output goes to out.txt and err.txt.
  int Run(const std::string& args) {
    const std::string command =
        "cd '" + directory.string() + "' && '" + kZephor + "' " + args + " > out.txt 2> err.txt";
    const int status = std::system(command.c_str());
    return WEXITSTATUS(status);
  }
};

TEST_F(DbCliTest, ConvertWritesWhatTheLibraryWrites) {
  const Bytes memory = sim::GenerateDatabase(21, 4000);
  WriteIn(kDatabaseFileName, memory);
  ASSERT_EQ(Run("db convert ZEPHORdata.bin"), 0) << ReadText("err.txt");
  const Bytes fromCli = ReadOut(kConversionFileName);
  ASSERT_TRUE(ConvertDatabase(station, memory, directory));
  EXPECT_EQ(fromCli, ReadOut(kConversionFileName));
  EXPECT_NE(ReadText("out.txt").find("Convertion DataBase."), std::string::npos);
}

TEST_F(DbCliTest, ReportTakesEquipmentAndBuild) {
  WriteIn(kDatabaseFileName, sim::GenerateDatabase(22, 3000));
  // Leading zeros do not make a number octal.
  ASSERT_EQ(Run("db report ZEPHORdata.bin --equipment 0004711 --build 0230"), 0);
  const std::string report = ReadText(kReportFileName);
  EXPECT_NE(report.find("NE4711."), std::string::npos);
  EXPECT_NE(report.find(" A="), std::string::npos);
  EXPECT_NE(ReadText("err.txt").find("_Quarvel.TXT"), std::string::npos);
}

TEST_F(DbCliTest, DumpFormats) {
  WriteIn(kDatabaseFileName, sim::GenerateDatabase(23, 3000));
  ASSERT_EQ(Run("db dump ZEPHORdata.bin"), 0);
  EXPECT_NE(ReadText("out.txt").find("up to the end-of-data byte"), std::string::npos);
  ASSERT_EQ(Run("db dump ZEPHORdata.bin --json"), 0);
  EXPECT_EQ(ReadText("out.txt").rfind("{\"surveys\": [", 0), 0u);
  ASSERT_EQ(Run("db dump ZEPHORdata.bin --csv"), 0);
  EXPECT_EQ(ReadText("out.txt").rfind("survey,offset,", 0), 0u);
  EXPECT_NE(Run("db dump ZEPHORdata.bin --csv --json"), 0);
}

TEST_F(DbCliTest, MissingOrTruncatedFile) {
  // A missing file or a folder is named with the reason, never an abort.
  std::filesystem::create_directory(directory / "folder");
  for (const char* command : {"report", "convert", "dump"}) {
    EXPECT_EQ(Run(std::string("db ") + command + " nothing.bin"), 2) << command;
    EXPECT_NE(ReadText("err.txt").find("cannot open nothing.bin: no such file"), std::string::npos);
    EXPECT_EQ(Run(std::string("db ") + command + " folder"), 2) << command;
    EXPECT_NE(ReadText("err.txt").find("cannot open folder: it is a folder"), std::string::npos);
  }
  WriteIn(kDatabaseFileName, {0xBF, 0xF8, 0x00});
  EXPECT_EQ(Run("db dump ZEPHORdata.bin"), 0);
  EXPECT_NE(ReadText("err.txt").find("without its end-of-data byte"), std::string::npos);
}

// The version, and every mistake of usage named with exit code 2.
TEST_F(DbCliTest, VersionAndUsageMistakes) {
  ASSERT_EQ(Run("--version"), 0);
  EXPECT_EQ(ReadText("out.txt").rfind("zephor 1.40 (commit ", 0), 0u) << ReadText("out.txt");
  const std::pair<const char*, const char*> mistakes[] = {
      {"list-ports", "unknown command list-ports"},
      {"db report ZEPHORdata.bin --equipment 0x12", "a decimal number is expected, not 0x12"},
      {"db dump", "file is required"},
      {"", "A subcommand is required"},
  };
  for (const auto& [args, says] : mistakes) {
    EXPECT_EQ(Run(args), 2) << args;
    EXPECT_NE(ReadText("err.txt").find(says), std::string::npos) << args << ReadText("err.txt");
  }
}

}  // namespace
}  // namespace zephor::database::testing
