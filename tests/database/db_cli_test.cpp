// zephor db report, convert and dump as a program, on files in a scratch directory.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <string>
#include <utility>

#include "database/conversion.h"
#include "database/database_file.h"
#include "database/record_walk.h"
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

// A database as the instrument holds it while a survey runs: the survey's header is written, its
// stop time and count not yet (0xFFFFFFFF and 0x7FFF, no measurements), and the end-of-data byte
// follows it.
Bytes WithSurveyJustStarted(std::uint32_t seed, std::size_t size) {
  sim::DatabaseOptions options;
  options.unstoppedSurvey = true;
  Bytes memory = sim::GenerateDatabase(seed, size, options);
  std::size_t running = 0;
  WalkRecords(memory, EmptySurveyStep::kHeaderOnly, [&](const Record& record) {
    if (record.kind == RecordKind::kSurvey) running = record.offset;
    return true;
  });
  memory.resize(running + kSurveyHeaderSize);
  memory[running + kSurveyCountOffset] = 0x7F;
  memory[running + kSurveyCountOffset + 1] = 0xFF;
  memory.push_back(0xFF);
  return memory;
}

// The warning that a file is not whole comes exactly when the command's own walk finds it cut: a
// survey still running ends the report's walk, and its header alone is all the conversion reads.
TEST_F(DbCliTest, NotWholeAsTheCommandReadsIt) {
  const Bytes whole = WithSurveyJustStarted(1234, 4000);
  const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(whole.size() / 2));
  const struct {
    const char* name;
    const Bytes& bytes;
    const char* command;
    bool warned;
  } rows[] = {
      {"ReportWithASurveyJustStarted", whole, "report", false},
      {"ConversionWithASurveyJustStarted", whole, "convert", false},
      {"ReportOfACutFile", cut, "report", true},
      {"ConversionOfACutFile", cut, "convert", true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    WriteIn(kDatabaseFileName, row.bytes);
    ASSERT_EQ(Run(std::string("db ") + row.command + " ZEPHORdata.bin"), 0) << ReadText("err.txt");
    const bool warned =
        ReadText("err.txt").find("is not a whole saved database") != std::string::npos;
    EXPECT_EQ(warned, row.warned) << ReadText("err.txt");
    EXPECT_EQ(ReadText("out.txt").find("DataBase truncated.") != std::string::npos, row.warned);
  }
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
