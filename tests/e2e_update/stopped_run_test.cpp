// Killed anywhere, finished by the next run: a run that dies in the middle of a transfer leaves
// the instrument inside it, and the next run, started at once, clears the line, finds the record
// of the stopped run and finishes it; nothing is lost on the way.
#include <ostream>
#include <string>

#include "device/identify.h"
#include "in_process_run.h"
#include "update/restore_resume.h"

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
  EXPECT_TRUE(FindNewestJournal(files::SystemDisk(), dir.path()) == std::nullopt);
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

// A loader that asks for its boot or update program gets it, then the instrument starts its own
// main and is asked what it holds before anything more is loaded: no new main goes over a memory
// whose layout the run has not learned. Only a loader with no main behind it ("S") gets main
// alone, and a record of a stopped run is used for it only once the new main proves whose it is.
struct LoaderRow {
  const char* name;
  char letter;
  const char* grade;
  const char* main;  // of the main behind the loader
  bool hasMain;
  std::uint32_t mainStartMs;
  std::vector<std::string> journalLoaded;  // this instrument's record of a stopped run, if any
  std::int32_t journalOwner;               // whose record it is
  std::vector<const char*> loaded;         // what the instrument takes, in order
  UpdateOutcome outcome;
  const char* mainAfter;
  bool restored;  // the memory's surveys end converted (back in a "QH" memory, on disk for "QN")
};

void PrintTo(const LoaderRow& row, std::ostream* out) { *out << row.name; }

class LoaderLetterTest : public InProcessRun, public ::testing::TestWithParam<LoaderRow> {
 public:
  void TearDown() override { EXPECT_EQ(serial::OpenPortCount(), 0); }
};

TEST_P(LoaderLetterTest, LoadsWhatTheLoaderAsksForThenLearnsTheMemory) {
  const LoaderRow& row = GetParam();
  if (!row.journalLoaded.empty()) {
    RunJournal record;
    record.info.equipmentNumber = row.journalOwner;
    record.info.grade = row.grade;
    record.specialMain = true;
    record.images = {"newboot.bin", "boot.bin", "update.bin", "main1p29.bin", "main.bin"};
    record.loaded = row.journalLoaded;
    ASSERT_TRUE(
        WriteJournal(files::SystemDisk(), JournalPath(dir.path(), row.journalOwner), record));
  }
  sim::InstrumentState state = Zephor(false, surveys);
  state.grade = row.grade;
  state.mainVersion = row.main;
  state.bootVersion = row.letter == 'B' ? "1.2" : "1.3";
  state.updateVersion = "1.2";
  state.missingProgram = row.letter;
  state.hasMain = row.hasMain;
  sim::FirmwareTiming timing;
  timing.mainStartMs = row.mainStartMs;
  Start(std::move(state), sim::Fault::kNone, {"1.3", "1.3", "1.40", "7"}, timing);

  EXPECT_EQ(RunMakeUpdate(), row.outcome) << panel.log;
  std::size_t at = 0;
  std::size_t loads = 0;
  for (const char* image : row.loaded) {
    at = simLog.find(std::string("loaded ") + image + " image", at);
    ASSERT_NE(at, std::string::npos) << image << "\n" << simLog;
  }
  for (at = simLog.find("loaded "); at != std::string::npos; at = simLog.find("loaded ", at + 1)) {
    ++loads;
  }
  EXPECT_EQ(loads, row.loaded.size()) << simLog;
  const sim::InstrumentState& after = instrument->model().state();
  EXPECT_EQ(after.mainVersion, row.mainAfter);
  if (row.restored) {
    const Bytes converted = ConvertedSurveys();
    EXPECT_EQ(std::string(row.grade) == "QH" ? after.memory : ReadAll(In("_Conversion.txt")),
              converted);
    EXPECT_TRUE(SurveysKept());
  } else {
    EXPECT_EQ(after.memory, surveys);  // untouched
  }
}

const UpdateOutcome kLoaded = UpdateOutcome::kDone;

INSTANTIATE_TEST_SUITE_P(
    Letters, LoaderLetterTest,
    ::testing::Values(
        LoaderRow{"Boot",
                  'B',
                  "QN",
                  "1.28",
                  true,
                  0,
                  {},
                  kEquipment,
                  {"boot", "update", "special main", "main"},
                  kLoaded,
                  "1.40",
                  true},
        LoaderRow{"Update",
                  'U',
                  "QN",
                  "1.28",
                  true,
                  0,
                  {},
                  kEquipment,
                  {"update", "special main", "main"},
                  kLoaded,
                  "1.40",
                  true},
        // Main 1.31 with surveys behind the loader: the new main comes with its restore.
        LoaderRow{"UpdateOverAnOldLayoutMemory",
                  'U',
                  "QH",
                  "1.31",
                  true,
                  0,
                  {},
                  kEquipment,
                  {"update", "main"},
                  kLoaded,
                  "1.40",
                  true},
        LoaderRow{"UpdateWhileTheMainStartsSlowly",
                  'U',
                  "QH",
                  "1.31",
                  true,
                  9000,
                  {},
                  kEquipment,
                  {"update", "main"},
                  kLoaded,
                  "1.40",
                  true},
        // The record of another instrument is not used: the run stops once it knows the number.
        LoaderRow{"UpdateBesideAnotherInstrumentsRecord",
                  'U',
                  "QH",
                  "1.31",
                  true,
                  0,
                  {"newboot.bin"},
                  78,
                  {"update"},
                  UpdateOutcome::kRestoreIncomplete,
                  "1.31",
                  false},
        // No main behind the loader: it asks for one, which goes in alone.
        LoaderRow{"UpdateWithNoMainBehind",
                  'U',
                  "QH",
                  "1.31",
                  false,
                  0,
                  {},
                  kEquipment,
                  {"update", "main"},
                  kLoaded,
                  "1.40",
                  false},
        LoaderRow{
            "Main", 'S', "QN", "1.28", false, 0, {}, kEquipment, {"main"}, kLoaded, "1.40", false},
        LoaderRow{"MainWithRecord",
                  'S',
                  "QN",
                  "1.28",
                  false,
                  0,
                  {"newboot.bin"},
                  kEquipment,
                  {"special main", "main"},
                  kLoaded,
                  "1.40",
                  false},
        LoaderRow{"MainAfterTheSpecialMain",
                  'S',
                  "QN",
                  "1.28",
                  false,
                  0,
                  {"newboot.bin", "boot.bin", "update.bin", "main1p29.bin"},
                  kEquipment,
                  {"main"},
                  kLoaded,
                  "1.40",
                  false}),
    [](const ::testing::TestParamInfo<LoaderRow>& info) { return info.param.name; });

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

// A signal while the open restore's question waits stops the run there: nothing is loaded, and
// nothing is called up to date or left open on the operator's word.
TEST_F(OpenRunTest, SignalWhileTheOpenRestoreQuestionWaitsEndsTheRunThere) {
  LeaveOpenRestore(RestoreStage::kErased);
  Start(Zephor(true, {}));
  panel.answerOk = false;
  panel.onQuestion = [this] { instrument->timing().RequestStop(); };
  EXPECT_EQ(RunMakeUpdate(), UpdateOutcome::kCancelled);
  EXPECT_FALSE(Told("up to date")) << panel.log;
  EXPECT_FALSE(Told("is still open")) << panel.log;
  EXPECT_TRUE(std::filesystem::exists(In(kJournalName)));
}

// "zephor restore PORT --close": the technician ends an open restore whose write-back would go
// over surveys recorded since. Its record and backups stay; later runs no longer offer it.
TEST_F(OpenRunTest, ClosedRestoreKeepsItsRecordAndBackupsAndIsNotOfferedAgain) {
  LeaveOpenRestore(RestoreStage::kProcessed);
  const Bytes recorded = sim::GenerateDatabase(8, 1000);
  Start(Zephor(true, recorded));
  device::DeviceInfo info;
  ASSERT_TRUE(device::Identify(station, info));
  EXPECT_TRUE(CloseOpenRestore(station, dir.path(), info)) << panel.log;
  EXPECT_TRUE(Told("The open restore of ZEPHOR 000000077 is ended on your word")) << panel.log;
  EXPECT_FALSE(std::filesystem::exists(In(kJournalName)));
  bool closed = false;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    closed = closed || entry.path().filename().string().starts_with("ZEPHORclosed-000000077-");
  }
  EXPECT_TRUE(closed);
  EXPECT_EQ(ReadAll(In(kDatedName)), surveys);
  panel = RecordingPanel();
  EXPECT_EQ(RunMakeUpdate(), UpdateOutcome::kDone) << panel.log;
  EXPECT_FALSE(Told("did not finish"));
  EXPECT_EQ(instrument->model().state().memory, recorded);
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
  EXPECT_TRUE(FindNewestJournal(files::SystemDisk(), dir.path()) == std::nullopt);
}

}  // namespace
}  // namespace zephor::update
