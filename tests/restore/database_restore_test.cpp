// The database chain after a restart, by grade, against the simulated instrument.
#include "update/database_restore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "chain_fixture.h"
#include "database/conversion.h"
#include "database/database_file.h"
#include "device/command_link.h"
#include "sim/database_generator.h"
#include "update/run_journal.h"

namespace zephor::update {
namespace {

using database::testing::Bytes;
using database::testing::ChainTest;

// The restarted instrument says READY during the second try.
constexpr std::uint32_t kReadyAtMs = 20000;
const std::vector<int> kWholeChain = {10, 30, 50, 80, 90, 100};
// The upload sets the bar to 0 after its transfer, before the restore's last step.
const std::vector<int> kWholeChainWithUpload = {10, 30, 50, 80, 90, 0, 100};

class RestoreTest : public ChainTest {
 protected:
  void StartWith(const std::string& grade, Bytes memory, const sim::FaultSet& faults = {},
                 std::optional<std::uint32_t> readyAtMs = kReadyAtMs) {
    sim::InstrumentState state;
    state.grade = grade;
    state.memory = std::move(memory);
    before = state.memory;
    station.grade = grade;
    UseInstrument(state, faults, readyAtMs);
  }
  void Restore() { RunDatabaseRestore(station, 0, info, directory); }
  const Bytes& Memory() const { return instrument->model().state().memory; }
  std::size_t CountOf(const std::string& command) const {
    const auto commands = Commands();
    return static_cast<std::size_t>(std::count(commands.begin(), commands.end(), command));
  }

  // What the conversion makes of the memory as it was, worked out apart from the restore.
  Bytes ConvertedBefore() {
    const auto elsewhere = directory / "expected";
    std::filesystem::create_directories(elsewhere);
    database::testing::ChainPanel quiet;
    device::Station aside;
    aside.panel = &quiet;
    EXPECT_TRUE(database::ConvertDatabase(aside, before, elsewhere));
    std::ifstream file(elsewhere / database::kConversionFileName, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }

  device::DeviceInfo info;
  Bytes before;
};

TEST_F(RestoreTest, GradeQSavesADatedBackupThenErases) {
  StartWith("Q", sim::GenerateDatabase(1, 3000));
  Restore();
  EXPECT_EQ(panel.progress, (std::vector<int>{10, 30, 100}));
  EXPECT_TRUE(Memory().empty());
  EXPECT_EQ(CountOf("DOWNLOAD"), 2u);  // the save, and the proof of the erase
  const std::size_t kept = panel.log.find("\tBackup kept as ZEPHORdata-");
  ASSERT_NE(kept, std::string::npos) << panel.log;
  EXPECT_LT(kept, panel.log.find("Erase data ZEPHOR."));
  // The dated copy holds the memory as it was, padded to whole blocks.
  const std::size_t name = kept + std::string("\tBackup kept as ").size();
  const std::string file = panel.log.substr(name, panel.log.find('\r', name) - name);
  const Bytes saved = ReadOut(file.c_str());
  ASSERT_GE(saved.size(), before.size());
  EXPECT_TRUE(std::equal(before.begin(), before.end(), saved.begin()));
  EXPECT_NE(panel.log.find("Erase data ZEPHOR."), std::string::npos);
  EXPECT_NE(panel.log.find("-----"), std::string::npos);  // a framed section
  EXPECT_TRUE(panel.log.ends_with("\tFinished.\r\n"));
  EXPECT_FALSE(Exists(database::kConversionFileName));
  EXPECT_FALSE(Exists(database::kReportFileName));
}

TEST_F(RestoreTest, GradeQhWritesTheConversionBack) {
  StartWith("QH", sim::GenerateDatabase(2, 6000));
  Restore();
  EXPECT_EQ(panel.progress, kWholeChainWithUpload);
  const Bytes expected = ConvertedBefore();
  ASSERT_FALSE(expected.empty());
  EXPECT_NE(expected, before);
  EXPECT_EQ(Memory(), expected);
  EXPECT_EQ(ReadOut(database::kConversionFileName), expected);
  EXPECT_TRUE(panel.messages.empty());
  EXPECT_FALSE(instrument->model().unlocked());
}

TEST_F(RestoreTest, GradeQhStepsComeInOrderWithTheBarAfterEach) {
  StartWith("QH", sim::GenerateDatabase(3, 2500));
  Restore();
  const auto download = CommandTime("DOWNLOAD");
  const auto erase = CommandTime("erase 40718293");
  const auto at50 = panel.TimeOf('P', "50");
  const auto at80 = panel.TimeOf('P', "80");
  const auto at90 = panel.TimeOf('P', "90");
  const auto upload = panel.TimeOf('L', "\tWrite Data to ZEPHOR.\r\n");
  const auto at100 = panel.TimeOf('P', "100");
  ASSERT_TRUE(download && erase && at50 && at80 && at90 && upload && at100);
  EXPECT_LT(*download, *at50);
  EXPECT_LE(*at50, *erase);
  EXPECT_LT(*erase, *at80);
  EXPECT_LE(*at90, *upload);
  EXPECT_LE(*upload, *at100);
  EXPECT_LT(panel.log.find("\tConvertion DataBase.\r\n"), panel.log.find("Write Data"));
}

TEST_F(RestoreTest, GradeQnConvertsWithoutUpload) {
  StartWith("QN", sim::GenerateDatabase(4, 3000));
  Restore();
  EXPECT_EQ(panel.progress, kWholeChain);
  EXPECT_TRUE(Memory().empty());
  EXPECT_EQ(ReadOut(database::kConversionFileName), ConvertedBefore());
  EXPECT_EQ(panel.log.find("Write Data"), std::string::npos);
  EXPECT_EQ(CountOf("erase 40718293"), 1u);
  // The erase shows as one step line, not a section of its own.
  EXPECT_NE(panel.log.find("\tErase data ZEPHOR.\r\n"), std::string::npos);
}

TEST_F(RestoreTest, GradeVjWritesTheReport) {
  StartWith("VJ", sim::GenerateDatabase(5, 3000));
  Restore();
  EXPECT_EQ(panel.progress, kWholeChain);
  EXPECT_TRUE(Memory().empty());
  EXPECT_TRUE(Exists(database::kReportFileName));
  EXPECT_FALSE(Exists(database::kConversionFileName));
  EXPECT_NE(ReadOut(database::kReportFileName).size(), 0u);
}

TEST_F(RestoreTest, EmptyDatabaseEndsAfterTheDownload) {
  StartWith("QH", {});
  Restore();
  EXPECT_EQ(panel.progress, (std::vector<int>{10, 30, 0}));
  EXPECT_NE(panel.log.find("DataBase empty"), std::string::npos);
  EXPECT_EQ(CountOf("erase 40718293"), 0u);
  EXPECT_FALSE(Exists(database::kConversionFileName));
}

// A copy that does not decode would be all that is left after the erase.
TEST_F(RestoreTest, UndecodableBackupKeepsTheMemory) {
  Bytes memory(12, 0x01);  // a plain record
  const Bytes header = {0xBF, 0xF8, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0,    0,
                        0,    0,    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x03, 0xE8};
  memory.insert(memory.end(), header.begin(), header.end());  // 1000 measurements, none there
  StartWith("QH", memory);
  Restore();
  EXPECT_EQ(Memory(), before);
  EXPECT_EQ(CountOf("erase 40718293"), 0u);
  EXPECT_TRUE(Exists(database::kDatabaseFileName));
  EXPECT_FALSE(Exists(database::kConversionFileName));
  EXPECT_EQ(panel.messages, std::vector<std::string>{kBackupUnreadableMessage});
  EXPECT_NE(panel.log.find("the memory is not erased"), std::string::npos);
  EXPECT_EQ(panel.progress, (std::vector<int>{10, 30}));
}

TEST_F(RestoreTest, NeverReadyAsksEveryMinuteAndCancelLeavesMemory) {
  StartWith("QH", sim::GenerateDatabase(6, 2000), sim::Fault::kNeverReady, std::nullopt);
  panel.answers = {true, false};
  Restore();
  ASSERT_EQ(panel.messages.size(), 2u);
  EXPECT_EQ(panel.messages[0], kKeepWaitingQuestion);
  EXPECT_EQ(panel.buttonKinds[0], device::MessageButtons::kOkCancel);
  // Four tries of 15 s before each question.
  EXPECT_GE(*panel.TimeOf('M', kKeepWaitingQuestion), 4u * device::kReadyLimitMs);
  EXPECT_LT(*panel.TimeOf('M', kKeepWaitingQuestion), 5u * device::kReadyLimitMs);
  EXPECT_GE(instrument->timing().now(), 8u * device::kReadyLimitMs);
  EXPECT_EQ(panel.progress, std::vector<int>{10});
  EXPECT_TRUE(Commands().empty());
  EXPECT_EQ(Memory(), before);
  EXPECT_NE(panel.log.find("The wait for READY was given up"), std::string::npos);
}

// A port that no longer opens (the adapter pulled out) is waited for like a silent instrument.
TEST_F(RestoreTest, PortThatDoesNotOpenIsAskedAboutOnlyAfterTheTries) {
  StartWith("QH", sim::GenerateDatabase(6, 2000), sim::Fault::kNeverReady, std::nullopt);
  panel.answers = {false};
  RunDatabaseRestore(station, 1, info, directory);  // nothing behind the second port
  ASSERT_EQ(panel.messages.size(), 1u);
  EXPECT_GE(*panel.TimeOf('M', kKeepWaitingQuestion), 4u * device::kReadyLimitMs);
  EXPECT_EQ(Memory(), before);
}

TEST_F(RestoreTest, KeepWaitingGoesOnOnceReady) {
  // READY in the sixth try: one question answered OK on the way.
  StartWith("QN", sim::GenerateDatabase(7, 2000), {}, 5 * device::kReadyLimitMs + 100);
  Restore();
  EXPECT_EQ(panel.messages, std::vector<std::string>{kKeepWaitingQuestion});
  EXPECT_EQ(panel.progress, kWholeChain);
  EXPECT_TRUE(Memory().empty());
}

TEST_F(RestoreTest, ReadyAtOnceAsksNothing) {
  StartWith("QH", sim::GenerateDatabase(8, 1500), {}, 500);
  Restore();
  EXPECT_TRUE(panel.messages.empty());
  EXPECT_EQ(panel.progress, kWholeChainWithUpload);
  EXPECT_EQ(Memory(), ConvertedBefore());
}

// A restore stopped at each stage of its journal is finished from there on the running
// instrument, from what the instrument's memory holds now, not from the record: the memory ends
// as the conversion of what it held, the saved copy is never taken from another instrument's
// ZEPHORdata.bin, a memory not yet erased is saved again (and the copy read back) before the
// erase, an erase counts only once the memory reads empty, and the conversion goes in only over a
// memory that is empty at that moment.
enum class Held {
  kSurveys,     // the surveys the restore is about
  kNothing,     // erased
  kConversion,  // their conversion, written back by a run that stopped after it
  kNewSurveys,  // surveys recorded since, on the new main
};

struct StageRow {
  const char* name;
  RestoreStage stage;
  Held memory;
  std::size_t downloads;
  std::size_t erases;
  bool backupSpoiled;  // the dated copy no longer matches its record
  int misreadErases;   // the instrument hears the first erase commands garbled
  bool done;           // the restore completes
  Held memoryAfter;    // kConversion, or the memory left as it was
  RestoreStage stageAfter;
  const char* told;                // in the log or a box
  bool conversionBlocked = false;  // _Conversion.txt cannot be written
};

void PrintTo(const StageRow& row, std::ostream* out) { *out << row.name; }

class JournalStageTest : public RestoreTest, public ::testing::WithParamInterface<StageRow> {};

TEST_P(JournalStageTest, FinishesFromTheStageReached) {
  const StageRow& row = GetParam();
  const Bytes original = sim::GenerateDatabase(9, 2500);
  const Bytes newSurveys = sim::GenerateDatabase(21, 1800);
  const char* kDated = "ZEPHORdata-000000077-20261207T120000Z.bin";
  RunJournal record;
  record.info.equipmentNumber = 77;
  record.info.grade = "QH";
  record.restoreFollows = true;
  record.restoreStage = row.stage;
  before = original;
  const Bytes converted = ConvertedBefore();
  if (row.stage != RestoreStage::kPending) {
    // As a download stores it: whole blocks, the last one padded.
    Bytes padded = original;
    padded.resize((original.size() + 127) / 128 * 128, 0x1A);
    WriteIn(kDated, padded);
    ASSERT_TRUE(ReadFileFacts(files::SystemDisk(), directory, kDated, record.backup));
    // Another instrument's restore has written ZEPHORdata.bin since.
    WriteIn(database::kDatabaseFileName, sim::GenerateDatabase(10, 900));
    if (row.backupSpoiled) WriteIn(kDated, Bytes(original.begin(), original.end() - 1));
  }
  if (row.stage == RestoreStage::kProcessed) {
    WriteIn(database::kConversionFileName, converted);
    ASSERT_TRUE(ReadFileFacts(files::SystemDisk(), directory, database::kConversionFileName,
                              record.conversion));
  }
  const auto held = [&](Held kind) {
    switch (kind) {
      case Held::kSurveys:
        return original;
      case Held::kNothing:
        return Bytes{};
      case Held::kConversion:
        return converted;
      case Held::kNewSurveys:
        return newSurveys;
    }
    return Bytes{};
  };
  sim::FaultSet faults;
  faults.misreadErases = row.misreadErases;
  StartWith("QH", held(row.memory), faults);
  before = original;
  info = record.info;
  JournalKeeper keeper(files::SystemDisk(), directory / "journal.json", record);
  ASSERT_TRUE(keeper.Save());
  if (row.conversionBlocked) {
    std::filesystem::remove(directory / database::kConversionFileName);
    std::filesystem::create_directory(directory / "_Conversion.txt.tmp");
    std::filesystem::create_directory(directory / database::kConversionFileName);
  }

  const bool done =
      RunDatabaseRestore(station, 0, info, directory, &keeper, RestoreEntry::kInstrumentRunning);
  EXPECT_EQ(done, row.done) << panel.log;
  EXPECT_EQ(CountOf("DOWNLOAD"), row.downloads);
  EXPECT_EQ(CountOf("erase 40718293"), row.erases);
  EXPECT_EQ(Memory(), held(row.memoryAfter));
  EXPECT_NE(panel.log.find(row.told), std::string::npos) << row.told << "\n" << panel.log;
  RunJournal after;
  ASSERT_TRUE(ReadJournal(files::SystemDisk(), directory / "journal.json", after));
  EXPECT_EQ(after.restoreStage, row.stageAfter);
  if (row.memoryAfter == Held::kConversion) {
    EXPECT_EQ(after.conversion.length, converted.size());
    EXPECT_FALSE(after.backup.name.empty());
  }
  // Whatever the memory held that the restore did not save is in a dated backup now.
  if (row.memory == Held::kNewSurveys) {
    bool kept = false;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
      if (!entry.is_regular_file()) continue;
      const std::string name = entry.path().filename().string();
      const Bytes bytes = ReadOut(name.c_str());
      kept =
          kept || (name.starts_with("ZEPHORdata-000000077-") && bytes.size() >= newSurveys.size() &&
                   std::equal(newSurveys.begin(), newSurveys.end(), bytes.begin()));
    }
    EXPECT_TRUE(kept);
    EXPECT_EQ(CountOf("UPLOAD 3"), 0u);
  }
}

const RestoreStage kPending = RestoreStage::kPending;
const RestoreStage kSaved = RestoreStage::kSaved;
const RestoreStage kErased = RestoreStage::kErased;
const RestoreStage kProcessed = RestoreStage::kProcessed;

INSTANTIATE_TEST_SUITE_P(
    Stages, JournalStageTest,
    ::testing::Values(
        // Saved, erased, proven empty, converted, proven empty again, written back.
        StageRow{"Pending", kPending, Held::kSurveys, 3, 1, false, 0, true, Held::kConversion,
                 kProcessed, "Write Data to ZEPHOR"},
        StageRow{"Saved", kSaved, Held::kSurveys, 3, 1, false, 0, true, Held::kConversion,
                 kProcessed, "Write Data to ZEPHOR"},
        StageRow{"SavedThenErasedUnnoted", kSaved, Held::kNothing, 2, 0, false, 0, true,
                 Held::kConversion, kProcessed, "The memory is erased already"},
        StageRow{"Erased", kErased, Held::kNothing, 1, 0, false, 0, true, Held::kConversion,
                 kProcessed, "Write Data to ZEPHOR"},
        StageRow{"Processed", kProcessed, Held::kNothing, 1, 0, false, 0, true, Held::kConversion,
                 kProcessed, "Write Data to ZEPHOR"},
        StageRow{"ErasedWithASpoiledBackup", kErased, Held::kNothing, 0, 0, true, 0, false,
                 Held::kNothing, kErased, "finding the saved backup did not finish"},
        // A power cut after the write-back: the memory holds the conversion already.
        StageRow{"ProcessedWithTheConversionInMemory", kProcessed, Held::kConversion, 1, 0, false,
                 0, true, Held::kConversion, kProcessed, "it was written back before"},
        // A write-back left open, and the instrument went back to work: its new surveys are
        // kept, nothing is written over them.
        StageRow{"ProcessedWithNewSurveys", kProcessed, Held::kNewSurveys, 1, 0, false, 0, false,
                 Held::kNewSurveys, kProcessed, "holds surveys this restore did not save"},
        StageRow{"ErasedWithNewSurveys", kErased, Held::kNewSurveys, 1, 0, false, 0, false,
                 Held::kNewSurveys, kProcessed, "holds surveys this restore did not save"},
        // An erase an earlier run sent did not take: the memory still is the proven backup.
        StageRow{"ErasedButTheMemoryIsTheBackup", kErased, Held::kSurveys, 2, 1, false, 0, true,
                 Held::kConversion, kProcessed, "Write Data to ZEPHOR"},
        // A conversion that cannot be written is no stage reached.
        StageRow{"ErasedConversionNotWritten", kErased, Held::kNothing, 0, 0, false, 0, false,
                 Held::kNothing, kErased, "writing the report or conversion did not finish", true},
        // The erase code garbled on the line: the instrument answers "?" and keeps its memory.
        StageRow{"EraseMisread", kPending, Held::kSurveys, 2, 1, false, 1, false, Held::kSurveys,
                 kSaved,
                 "The ZEPHOR did not erase its memory: its surveys are kept and nothing "
                 "more is done."}),
    [](const ::testing::TestParamInfo<StageRow>& info) { return info.param.name; });

// A run killed between writing the journal's temporary file and its rename leaves the journal as
// it was: it still reads as its previous stage, wherever the new text was cut.
TEST_F(RestoreTest, JournalCutAtAnyWriteReadsAsItsPreviousStage) {
  RunJournal record;
  record.info.equipmentNumber = 5;
  record.restoreStage = RestoreStage::kSaved;
  const std::filesystem::path path = JournalPath(directory, 5);
  ASSERT_TRUE(WriteJournal(files::SystemDisk(), path, record));
  record.restoreStage = RestoreStage::kErased;
  const std::filesystem::path next = directory / "next.json";
  ASSERT_TRUE(WriteJournal(files::SystemDisk(), next, record));
  const Bytes text = ReadOut("next.json");
  std::filesystem::path temporary = path;
  temporary += ".tmp";
  for (std::size_t cut = 0; cut <= text.size(); cut += 7) {
    std::ofstream(temporary, std::ios::binary)
        .write(reinterpret_cast<const char*>(text.data()), static_cast<std::streamsize>(cut));
    RunJournal read;
    ASSERT_TRUE(ReadJournal(files::SystemDisk(), path, read)) << cut;
    EXPECT_EQ(read.restoreStage, RestoreStage::kSaved) << cut;
    EXPECT_EQ(FindNewestJournal(files::SystemDisk(), directory), path) << cut;
  }
  // The next write goes through all the same.
  ASSERT_TRUE(WriteJournal(files::SystemDisk(), path, record));
  RunJournal read;
  ASSERT_TRUE(ReadJournal(files::SystemDisk(), path, read));
  EXPECT_EQ(read.restoreStage, RestoreStage::kErased);
  EXPECT_FALSE(std::filesystem::exists(temporary));
}

// Two restores in one folder: each keeps its own dated copy; ZEPHORdata.bin is the newer one.
TEST_F(RestoreTest, TwoRestoresInOneFolderKeepTwoDatedBackups) {
  for (const std::int32_t equipment : {11, 12}) {
    StartWith("QN", sim::GenerateDatabase(static_cast<std::uint32_t>(equipment), 2000));
    info.equipmentNumber = equipment;
    Restore();
  }
  std::vector<std::string> dated;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with("ZEPHORdata-")) dated.push_back(name.substr(0, 20));
  }
  std::sort(dated.begin(), dated.end());
  EXPECT_EQ(dated, (std::vector<std::string>{"ZEPHORdata-000000011", "ZEPHORdata-000000012"}));
}

}  // namespace
}  // namespace zephor::update
