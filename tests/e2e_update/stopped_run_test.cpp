// Killed anywhere, finished by the next run: a run that dies in the middle of a transfer leaves
// the instrument inside it, and the next run, started at once, clears the line, finds the record
// of the stopped run and finishes it; nothing is lost on the way.
#include <ostream>
#include <string>

#include "in_process_run.h"

namespace zephor::update {
namespace {

using namespace testing;

struct StoppedRow {
  const char* name;
  const char* grade;          // "QH" gets its database back, "QN" the conversion on disk
  const char* main;           // the instrument's main program before the update
  const char* bootAndUpdate;  // "1.2" makes the full sequence load
  const char* killOn;         // the instrument's log line after which the first run dies
  std::uint32_t killDelayMs;
  std::vector<const char*> loadedNext;  // what the next run's instrument loads, in order
};

void PrintTo(const StoppedRow& row, std::ostream* out) { *out << row.name; }

class StoppedRunTest : public InProcessRun, public ::testing::TestWithParam<StoppedRow> {
 public:
  void TearDown() override { EXPECT_EQ(serial::OpenPortCount(), 0); }
};

TEST_P(StoppedRunTest, TheNextRunFinishesItInOneGo) {
  const StoppedRow& row = GetParam();
  sim::InstrumentState state = Zephor(false, surveys);
  state.grade = row.grade;
  state.mainVersion = row.main;
  state.bootVersion = state.updateVersion = row.bootAndUpdate;
  Start(std::move(state));
  killOn = row.killOn;
  killDelayMs = row.killDelayMs;
  EXPECT_NE(RunMakeUpdate(), UpdateOutcome::kDone);
  ASSERT_TRUE(host->dead) << simLog;
  simLog.clear();

  EXPECT_EQ(RunAgain(), UpdateOutcome::kDone) << panel.log;
  std::size_t at = 0;
  for (const char* image : row.loadedNext) {
    at = simLog.find(std::string("loaded ") + image + " image", at);
    ASSERT_NE(at, std::string::npos) << image << "\n" << simLog;
  }
  const sim::InstrumentState& after = instrument->model().state();
  EXPECT_EQ(after.mainVersion, "1.40");
  EXPECT_EQ(after.bootVersion, "1.3");
  EXPECT_EQ(after.updateVersion, "1.3");
  const Bytes converted = ConvertedSurveys();
  EXPECT_EQ(std::string(row.grade) == "QH" ? after.memory : ReadAll(In("_Conversion.txt")),
            converted);
  EXPECT_TRUE(SurveysKept());
  EXPECT_TRUE(FindNewestJournal(dir.path()) == std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Transfers, StoppedRunTest,
    ::testing::Values(StoppedRow{"ImageLoad", "QH", "1.31", "1.3", "header accepted", 0, {"main"}},
                      // The instrument took its new main, but the record could not say so any more.
                      StoppedRow{
                          "JustAfterTheMainLoad", "QH", "1.31", "1.3", "loaded main image", 0, {}},
                      StoppedRow{"Download", "QH", "1.31", "1.3", "download of", 300, {}},
                      StoppedRow{"WriteBack", "QH", "1.31", "1.3", "upload of", 300, {}},
                      // The loader asks with "S" after the update banner as it does before the main
                      // programs: the record says the newboot goes first.
                      StoppedRow{"BeforeTheNewboot",
                                 "QN",
                                 "1.28",
                                 "1.2",
                                 "update banner",
                                 0,
                                 {"newboot", "boot", "update", "special main", "main"}}),
    [](const ::testing::TestParamInfo<StoppedRow>& info) { return info.param.name; });

class OpenRunTest : public InProcessRun, public ::testing::Test {
 public:
  void TearDown() override { EXPECT_EQ(serial::OpenPortCount(), 0); }
};

// A silent instrument with an open restore in the folder is waited for, then the operator learns
// what is open and where the surveys are.
TEST_F(OpenRunTest, SilenceWithAnOpenJournalNamesTheStageAndTheBackup) {
  LeaveOpenRestore(RestoreStage::kProcessed);
  Start(Zephor(true, {}), sim::Fault::kSilent);
  EXPECT_EQ(RunMakeUpdate(), UpdateOutcome::kNoInstrument);
  EXPECT_TRUE(
      Told("The update of ZEPHOR 000000077 stopped while writing the converted database "
           "back: its memory is erased and the surveys are in "
           "ZEPHORdata-000000077-20261207T120000Z.bin. The instrument does not answer: "
           "switch it off and on, then press Make Update."))
      << panel.log;
  EXPECT_GE(instrument->timing().now(), static_cast<std::uint32_t>(kOpenRunWaitMs));
  EXPECT_EQ(panel.messages.size(), 1U);  // the tries' own boxes are held back
  EXPECT_TRUE(std::filesystem::exists(In(kJournalName)));
}

// The erased memory already equals an empty conversion: nothing is sent, and the run completes.
TEST_F(OpenRunTest, EmptyConversionCompletesWithoutAnUpload) {
  surveys = {0x1A};
  Start(Zephor(false, surveys));
  EXPECT_EQ(RunMakeUpdate(), UpdateOutcome::kDone) << panel.log;
  for (const std::string& command : instrument->model().commands()) {
    EXPECT_FALSE(command.starts_with("UPLOAD")) << command;
  }
  EXPECT_TRUE(Told("The conversion is empty"));
  EXPECT_TRUE(FindNewestJournal(dir.path()) == std::nullopt);
}

}  // namespace
}  // namespace zephor::update
