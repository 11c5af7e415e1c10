// The working folder as a technician, a second technician or a careless script leaves it: a
// restore left open is finished only from what is proven, journals and names that cannot be
// trusted stop the run before anything is loaded or erased, and nothing is written through a link.
// Make Update runs in process against the simulated instrument on virtual time.
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <functional>
#include <ostream>

#include "database/database_download.h"
#include "device/identify.h"
#include "files/folder_lock.h"
#include "in_process_run.h"
#include "update/backup_restore.h"

namespace zephor::update {
namespace {

using namespace testing;

class FolderSafetyTest;

// How a row leaves the folder before the run, and what the run must leave behind.
struct TamperRow {
  const char* name;
  RestoreStage stage;  // of this instrument's open restore
  bool memoryErased;   // the open restore got past its erase
  std::function<void(FolderSafetyTest&)> tamper;
  UpdateOutcome outcome;
  const char* told;       // in the log or a message box
  bool erased;            // the instrument heard the erase command
  bool surveysBack;       // the instrument's memory ends as the conversion of its surveys
  bool journalKept;       // this instrument's journal (or the one the row put there) stays
  char loaderLetter = 0;  // the instrument's loader asks for a program instead of answering
};

void PrintTo(const TamperRow& row, std::ostream* out) { *out << row.name; }

class FolderSafetyTest : public InProcessRun, public ::testing::TestWithParam<TamperRow> {
 public:
  void TearDown() override { EXPECT_EQ(serial::OpenPortCount(), 0); }

  void Run(const TamperRow& row) {
    sim::InstrumentState state =
        Zephor(row.loaderLetter == 0, row.memoryErased ? Bytes{} : surveys);
    state.missingProgram = row.loaderLetter;
    Start(std::move(state));
    RunMakeUpdate();
  }

  std::unique_ptr<files::FolderLock> otherRun;
  std::filesystem::path keptJournal;  // the journal the row put in place, and its bytes
  Bytes keptJournalBytes;
};

TEST_P(FolderSafetyTest, NothingIsLostAndNothingLeavesTheFolder) {
  const TamperRow& row = GetParam();
  if (row.stage != RestoreStage::kPending || row.loaderLetter == 0) LeaveOpenRestore(row.stage);
  keptJournal = In(kJournalName);
  row.tamper(*this);
  if (std::filesystem::is_regular_file(std::filesystem::symlink_status(keptJournal))) {
    keptJournalBytes = ReadAll(keptJournal);
  }

  Run(row);

  EXPECT_EQ(outcome, row.outcome) << panel.log;
  EXPECT_TRUE(Told(row.told)) << row.told << "\n" << panel.log;
  EXPECT_EQ(Heard(kEraseCommand) > 0, row.erased) << panel.log;
  const Bytes& memory = instrument->model().state().memory;
  if (row.surveysBack) {
    EXPECT_EQ(memory, ConvertedSurveys());
  } else if (!row.erased) {
    EXPECT_EQ(memory, row.memoryErased ? Bytes{} : surveys);  // untouched
    EXPECT_EQ(Heard("UPLOAD 3"), 0U);
  }
  // Whatever erased the memory, a copy of the surveys is in the folder.
  if (memory != surveys) {
    EXPECT_TRUE(SurveysKept());
  }
  EXPECT_EQ(std::filesystem::exists(std::filesystem::symlink_status(keptJournal)), row.journalKept);
  // A run that stopped before touching anything leaves the journal as it found it.
  if (row.journalKept && !row.erased && !keptJournalBytes.empty()) {
    EXPECT_EQ(ReadAll(keptJournal), keptJournalBytes);
  }
  if (row.outcome == UpdateOutcome::kFolderBusy) {
    EXPECT_TRUE(instrument->model().commands().empty());
  }
  EXPECT_FALSE(OutsideOpened());
  for (const auto& [path, bytes] : watched) EXPECT_EQ(ReadAll(path), bytes) << path;
}

// A file outside the folder with the surveys in it, and a journal that names it with its true
// length and CRC-16: no proof, because both are written in an editable file.
void NameOutside(FolderSafetyTest& t, const std::string& name) {
  t.OutsideFile("x.bin", t.surveys);
  t.journal.backup = FactsOf(name, t.surveys);
  ASSERT_TRUE(WriteJournal(files::SystemDisk(), t.In(kJournalName), t.journal));
}

void Link(const std::filesystem::path& target, const std::filesystem::path& link) {
  std::filesystem::remove(link);
  std::filesystem::create_symlink(target, link);
}

const UpdateOutcome kDone = UpdateOutcome::kDone;
const UpdateOutcome kStopped = UpdateOutcome::kRestoreIncomplete;
const RestoreStage kSaved = RestoreStage::kSaved;
const RestoreStage kErased = RestoreStage::kErased;

INSTANTIATE_TEST_SUITE_P(
    Tamperings, FolderSafetyTest,
    ::testing::Values(
        // The backup of a restore stopped after its download vanished or was cut: the memory is
        // downloaded again and proven before it is erased.
        TamperRow{"BackupGoneAfterTheDownload", kSaved, false,
                  [](FolderSafetyTest& t) { std::filesystem::remove(t.In(kDatedName)); }, kDone,
                  "Backup kept as ZEPHORdata-000000077-", true, true, false},
        TamperRow{"BackupCutAfterTheDownload", kSaved, false,
                  [](FolderSafetyTest& t) {
                    WriteAll(t.In(kDatedName), Bytes(t.surveys.begin(), t.surveys.begin() + 100));
                  },
                  kDone, "Backup kept as ZEPHORdata-000000077-", true, true, false},
        // A run stopped after the erase went out but before the journal said so.
        TamperRow{"ErasedBeforeTheJournalSaidSo", kSaved, true, [](FolderSafetyTest&) {}, kDone,
                  "The memory is erased already: the restore goes on from", false, true, false},
        // Names that lead out of the folder are no backup of it.
        TamperRow{"BackupNameLeadsUp", kErased, true,
                  [](FolderSafetyTest& t) { NameOutside(t, "../x.bin"); }, kStopped,
                  "its backup \"../x.bin\" is not a dated backup of ZEPHOR 000000077", false, false,
                  true},
        TamperRow{"BackupNameIsAbsolute", kErased, true,
                  [](FolderSafetyTest& t) { NameOutside(t, (t.outside / "x.bin").string()); },
                  kStopped, "is not a dated backup of ZEPHOR 000000077", false, false, true},
        // Links in the folder are replaced, never written through.
        TamperRow{"ConversionIsALink", kSaved, false,
                  [](FolderSafetyTest& t) {
                    Link(t.OutsideFile("target.txt", Text("keep me")), t.In("_Conversion.txt"));
                  },
                  kDone, "Write Data to ZEPHOR", true, true, false},
        TamperRow{"JournalTemporaryIsALink", kSaved, false,
                  [](FolderSafetyTest& t) {
                    Link(t.OutsideFile("target.txt", Text("keep me")),
                         t.In(std::string(kJournalName) + ".tmp"));
                  },
                  kDone, "Write Data to ZEPHOR", true, true, false},
        TamperRow{"SavedDatabaseIsALink", kSaved, false,
                  [](FolderSafetyTest& t) {
                    Link(t.OutsideFile("target.bin", Text("keep me")), t.In("ZEPHORdata.bin"));
                    Link(t.OutsideFile("part.bin", Text("keep me")), t.In("ZEPHORdata.bin.part"));
                  },
                  kDone, "Write Data to ZEPHOR", true, true, false},
        // Journals that cannot be read stop the run before anything is loaded or erased, and
        // the run says where the surveys are.
        TamperRow{"JournalCutInHalf", kErased, true,
                  [](FolderSafetyTest& t) {
                    const Bytes whole = ReadAll(t.In(kJournalName));
                    WriteAll(t.In(kJournalName), Bytes(whole.begin(), whole.begin() + 60));
                  },
                  kStopped,
                  "Dated backups of ZEPHOR 000000077 in this folder: "
                  "ZEPHORdata-000000077-20261207T120000Z.bin.",
                  false, false, true},
        TamperRow{"JournalNotJson", kErased, true,
                  [](FolderSafetyTest& t) { WriteAll(t.In(kJournalName), Text("stage: erased")); },
                  kStopped, "cannot be used: it is not a whole journal", false, false, true},
        TamperRow{"JournalIsAFolder", kErased, true,
                  [](FolderSafetyTest& t) {
                    std::filesystem::remove(t.In(kJournalName));
                    std::filesystem::create_directory(t.In(kJournalName));
                  },
                  kStopped, "cannot be used: it is a folder", false, false, true},
        TamperRow{"JournalLinksOutside", kErased, true,
                  [](FolderSafetyTest& t) {
                    const Bytes whole = ReadAll(t.In(kJournalName));
                    Link(t.OutsideFile("journal.json", whole), t.In(kJournalName));
                  },
                  kStopped, "cannot be used: it is a link", false, false, true},
        TamperRow{"JournalLinksToDevZero", kErased, true,
                  [](FolderSafetyTest& t) { Link("/dev/zero", t.In(kJournalName)); }, kStopped,
                  "cannot be used: it is a link", false, false, true},
        TamperRow{"JournalIsAFifo", kErased, true,
                  [](FolderSafetyTest& t) {
                    std::filesystem::remove(t.In(kJournalName));
                    ASSERT_EQ(mkfifo(t.In(kJournalName).c_str(), 0600), 0);
                  },
                  kStopped, "cannot be used: it is not a plain file", false, false, true},
        TamperRow{"JournalRenamedToAnotherNumber", kErased, true,
                  [](FolderSafetyTest& t) {
                    t.keptJournal = t.In("ZEPHORrestore-000000078.json");
                    std::filesystem::rename(t.In(kJournalName), t.keptJournal);
                  },
                  kStopped, "its name does not carry the number of the instrument", false, false,
                  true},
        TamperRow{"AnotherInstrumentsJournal", kErased, true,
                  [](FolderSafetyTest& t) {
                    std::filesystem::remove(t.In(kJournalName));
                    t.keptJournal = t.In("ZEPHORrestore-000000078.json");
                    ASSERT_TRUE(
                        WriteJournal(files::SystemDisk(), t.keptJournal, OpenRestore(kSaved, 78)));
                  },
                  kStopped,
                  "is the record of ZEPHOR 000000078, not of the connected ZEPHOR 000000077", false,
                  false, true},
        // A loader that asks for a program cannot say whose it is: the journal found is used for
        // the loads, but another instrument's restore is not run, and its record is put back.
        TamperRow{"LoaderAsksWithAnotherInstrumentsJournal", RestoreStage::kPending, false,
                  [](FolderSafetyTest& t) {
                    t.keptJournal = t.In("ZEPHORrestore-000000078.json");
                    RunJournal other = OpenRestore(RestoreStage::kPending, 78);
                    other.loaded.clear();
                    ASSERT_TRUE(WriteJournal(files::SystemDisk(), t.keptJournal, other));
                  },
                  kStopped, "The connected ZEPHOR is 000000077, not ZEPHOR 000000078", false, false,
                  true, 'S'},
        // A restore stopped while it erases: the erase went out but was not proven, and the log
        // says so.
        TamperRow{"StoppedDuringTheErase", kSaved, false,
                  [](FolderSafetyTest& t) { t.stopAtErase = true; }, kStopped,
                  "erasing did not finish", true, false, true},
        // Another run holds the folder: nothing reaches the instrument.
        TamperRow{"AnotherRunHoldsTheFolder", kSaved, false,
                  [](FolderSafetyTest& t) {
                    t.otherRun =
                        std::make_unique<files::FolderLock>(files::FolderLock::Take(t.dir.path()));
                    ASSERT_TRUE(t.otherRun->taken());
                  },
                  UpdateOutcome::kFolderBusy, "Another update is running in this folder (process ",
                  false, false, true}),
    [](const ::testing::TestParamInfo<TamperRow>& info) { return info.param.name; });

// The row "StoppedDuringTheErase" leaves the journal at the save: an erase counts only once the
// memory reads empty, so the next run looks at the memory, finds it empty and goes on from the
// backup (the row "ErasedBeforeTheJournalSaidSo").
TEST_F(FolderSafetyTest, StopDuringTheEraseLeavesTheSaveForTheNextRun) {
  LeaveOpenRestore(kSaved);
  stopAtErase = true;
  Run({"", kSaved, false, {}, kStopped, "", true, false, true});
  RunJournal after;
  ASSERT_TRUE(ReadJournal(files::SystemDisk(), In(kJournalName), after));
  EXPECT_EQ(after.restoreStage, RestoreStage::kSaved);
  EXPECT_TRUE(instrument->model().state().memory.empty());
}

// A disk that cannot take the download is named with what was written: nothing is erased.
TEST_F(FolderSafetyTest, DownloadIntoAFullDiskNamesTheCause) {
  LeaveOpenRestore(RestoreStage::kPending);
  rlimit before{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = before;
  small.rlim_cur = 1024;  // the journal fits; the download does not
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  Run({"", RestoreStage::kPending, false, {}, kStopped, "", false, false, true});
  setrlimit(RLIMIT_FSIZE, &before);
  std::signal(SIGXFSZ, oldHandler);
  // What reached the disk, of what the instrument announced.
  EXPECT_TRUE(Told("\tZEPHORdata.bin: the file is larger than this system allows after 1 024 of " +
                   database::GroupedNumber(static_cast<long long>(surveys.size())) +
                   " bytes; nothing was erased.\r\n"))
      << panel.log;
  EXPECT_TRUE(Told("Error in file transfer -607"));
  EXPECT_EQ(Heard(kEraseCommand), 0U);
  EXPECT_EQ(instrument->model().state().memory, surveys);
}

// "zephor restore PORT --backup FILE": only a whole saved database of the connected instrument
// goes in, only into a memory that is empty at that moment, and ZEPHORdata.bin stays as it was.
struct BackupRow {
  const char* name;
  const char* file;  // the name the technician gives
  enum { kSurveys, kRandom, kCut } content;
  bool otherInstrument;  // --other-instrument
  enum { kEmpty, kConversion, kNewSurveys } memory;
  bool written;      // RestoreFromBackup succeeds
  bool uploaded;     // an UPLOAD went out
  const char* told;  // in the log or a box
};

void PrintTo(const BackupRow& row, std::ostream* out) { *out << row.name; }

class BackupWriteBackTest : public InProcessRun, public ::testing::TestWithParam<BackupRow> {
 public:
  void TearDown() override { EXPECT_EQ(serial::OpenPortCount(), 0); }
};

TEST_P(BackupWriteBackTest, WritesOnlyItsOwnWholeBackupIntoAnEmptyMemory) {
  const BackupRow& row = GetParam();
  Bytes padded = surveys;
  padded.resize((surveys.size() + 127) / 128 * 128, 0x1A);
  Bytes content = padded;
  if (row.content == BackupRow::kRandom) {
    content.assign(4000, 0);
    std::uint32_t seed = 12345;
    for (auto& byte : content)
      byte = static_cast<std::uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
  } else if (row.content == BackupRow::kCut) {
    content.resize(1024);
  }
  WriteAll(In(row.file), content);
  const Bytes saved = Text("the last saved database");
  WriteAll(In("ZEPHORdata.bin"), saved);
  const Bytes recorded = sim::GenerateDatabase(41, 1200);
  Bytes memory;
  if (row.memory == BackupRow::kConversion) memory = ConvertedSurveys();
  if (row.memory == BackupRow::kNewSurveys) memory = recorded;
  Start(Zephor(true, memory));
  device::DeviceInfo info;
  ASSERT_TRUE(device::Identify(station, info));
  EXPECT_EQ(RestoreFromBackup(station, info, dir.path(), In(row.file), row.otherInstrument),
            row.written)
      << panel.log;
  EXPECT_TRUE(Told(row.told)) << row.told << "\n" << panel.log;
  const auto& commands = instrument->model().commands();
  EXPECT_EQ(std::any_of(commands.begin(), commands.end(),
                        [](const std::string& c) { return c.starts_with("UPLOAD"); }),
            row.uploaded);
  EXPECT_EQ(ReadAll(In("ZEPHORdata.bin")), saved);
  const Bytes& after = instrument->model().state().memory;
  if (row.written) {
    EXPECT_EQ(after, ConvertedSurveys());
  } else {
    EXPECT_EQ(after, memory);
  }
  if (row.memory == BackupRow::kNewSurveys) {
    EXPECT_TRUE(Told("is not empty: it is kept as"));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Backups, BackupWriteBackTest,
    ::testing::Values(
        BackupRow{"OwnBackupIntoAnEmptyMemory", kDatedName, BackupRow::kSurveys, false,
                  BackupRow::kEmpty, true, true, "are written back to ZEPHOR 000000077"},
        BackupRow{"AnotherInstrumentsBackup", "ZEPHORdata-000000078-20261207T120000Z.bin",
                  BackupRow::kSurveys, false, BackupRow::kEmpty, false, false,
                  "is not known as a backup of ZEPHOR 000000077"},
        BackupRow{"AnotherInstrumentsBackupOnTheTechniciansWord",
                  "ZEPHORdata-000000078-20261207T120000Z.bin", BackupRow::kSurveys, true,
                  BackupRow::kEmpty, true, true, "are written back to ZEPHOR 000000077"},
        BackupRow{"RandomBytesUnderABackupName", kDatedName, BackupRow::kRandom, false,
                  BackupRow::kEmpty, false, false, "it is not a whole saved database"},
        BackupRow{"CutBackup", kDatedName, BackupRow::kCut, false, BackupRow::kEmpty, false, false,
                  "it is not a whole saved database"},
        BackupRow{"MemoryHoldsItsConversionAlready", kDatedName, BackupRow::kSurveys, false,
                  BackupRow::kConversion, true, false, "holds the conversion of"},
        BackupRow{"MemoryHoldsNewSurveys", kDatedName, BackupRow::kSurveys, false,
                  BackupRow::kNewSurveys, false, false, "is not empty"}),
    [](const ::testing::TestParamInfo<BackupRow>& info) { return info.param.name; });

}  // namespace
}  // namespace zephor::update
