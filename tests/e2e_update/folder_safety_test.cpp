// The working folder as a technician, a second technician or a careless script leaves it: a
// restore left open is finished only from what is proven, journals and names that cannot be
// trusted stop the run before anything is loaded or erased, and nothing is written through a link.
// Make Update runs in process against the simulated instrument on virtual time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "database/conversion.h"
#include "database/database_download.h"
#include "files/folder_lock.h"
#include "image_set.h"
#include "recording_panel.h"
#include "sim/database_generator.h"
#include "sim/in_process.h"
#include "temp_dir.h"
#include "update/run_journal.h"
#include "update/update_planner.h"

namespace zephor::update {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::int32_t kEquipment = 77;
constexpr const char* kJournalName = "ZEPHORrestore-000000077.json";
constexpr const char* kDatedName = "ZEPHORdata-000000077-20261207T120000Z.bin";
constexpr const char* kEraseCommand = "erase 40718293";

Bytes ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// The record of a run that loaded main 1.40 into a "QH" instrument and stopped in its restore.
RunJournal OpenRestore(RestoreStage stage, std::int32_t equipment = kEquipment) {
  RunJournal journal;
  journal.info.equipmentNumber = equipment;
  journal.info.grade = "QH";
  journal.info.bootVersion = 1.3f;
  journal.info.updateVersion = 1.3f;
  journal.info.mainVersion = 1.31f;
  journal.info.build = 5;
  journal.images = {"main.bin"};
  journal.loaded = {"main.bin"};
  journal.restoreFollows = true;
  journal.restoreStage = stage;
  return journal;
}

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

class FolderSafetyTest : public ::testing::TestWithParam<TamperRow> {
 public:
  void SetUp() override {
    outside = dir.path().parent_path() / (dir.path().filename().string() + "_outside");
    std::filesystem::remove_all(outside);
    std::filesystem::create_directories(outside);
  }
  void TearDown() override {
    std::filesystem::remove_all(outside);
    EXPECT_EQ(serial::OpenPortCount(), 0);
  }

  std::filesystem::path In(const std::string& name) const { return dir.path() / name; }

  // The open restore of this instrument, its dated backup beside it.
  void LeaveOpenRestore(RestoreStage stage) {
    journal = OpenRestore(stage);
    WriteAll(In(kDatedName), surveys);
    ASSERT_TRUE(ReadFileFacts(dir.path(), kDatedName, journal.backup));
    ASSERT_TRUE(WriteJournal(In(kJournalName), journal));
  }

  // A file outside the folder a link or a name may lead to, watched for any opening.
  std::filesystem::path OutsideFile(const std::string& name, const Bytes& bytes) {
    const std::filesystem::path path = outside / name;
    WriteAll(path, bytes);
    if (watch < 0) watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    inotify_add_watch(watch, path.c_str(), IN_OPEN | IN_ACCESS | IN_MODIFY);
    watched.push_back({path, bytes});
    return path;
  }
  bool OutsideOpened() {
    if (watch < 0) return false;
    char events[4096];
    const ssize_t got = read(watch, events, sizeof events);
    close(watch);
    watch = -1;
    return got > 0;
  }

  void Run(const TamperRow& row) {
    script::WriteImageSet(dir, {"1.3", "1.3", "1.40", "7"});
    sim::InstrumentState state;
    state.equipmentNumber = kEquipment;
    state.grade = "QH";
    state.bootVersion = "1.3";
    state.updateVersion = "1.3";
    state.mainVersion = row.loaderLetter != 0 ? "1.31" : "1.40";
    state.build = row.loaderLetter != 0 ? 5 : 7;
    state.missingProgram = row.loaderLetter;
    state.memory = row.memoryErased ? Bytes{} : surveys;
    instrument = std::make_unique<sim::InProcessInstrument>(std::move(state), sim::Fault::kNone);
    instrument->model().SetCommandLog([this](const std::string& text) {
      if (stopAtErase && text == std::string("command \"") + kEraseCommand + "\"") {
        instrument->timing().RequestStop();
      }
    });
    station.ports = instrument->environment();
    station.panel = &panel;
    outcome = OnMakeUpdate(station, dir.path());
  }

  std::size_t Heard(const std::string& command) const {
    const auto& commands = instrument->model().commands();
    return static_cast<std::size_t>(std::count(commands.begin(), commands.end(), command));
  }
  bool Told(const std::string& text) const {
    return panel.log.find(text) != std::string::npos ||
           std::any_of(panel.messages.begin(), panel.messages.end(),
                       [&](const std::string& m) { return m.find(text) != std::string::npos; });
  }
  Bytes ConvertedSurveys() const {
    const std::filesystem::path apart = outside / "apart";
    std::filesystem::create_directories(apart);
    RecordingPanel quiet;
    device::Station aside;
    aside.panel = &quiet;
    EXPECT_TRUE(database::ConvertDatabase(aside, surveys, apart));
    return ReadAll(apart / "_Conversion.txt");
  }

  TempDir dir;
  std::filesystem::path outside;
  const Bytes surveys = sim::GenerateDatabase(5, 3000);
  RunJournal journal;
  RecordingPanel panel;
  device::Station station;
  std::unique_ptr<sim::InProcessInstrument> instrument;
  UpdateOutcome outcome = UpdateOutcome::kDone;
  bool stopAtErase = false;
  int watch = -1;
  std::vector<std::pair<std::filesystem::path, Bytes>> watched;  // and what each held
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
  if (!memory.empty() && memory != surveys) {
    bool copied = false;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
      const Bytes held = ReadAll(entry.path());
      copied = copied || (held.size() >= surveys.size() &&
                          std::equal(surveys.begin(), surveys.end(), held.begin()));
    }
    EXPECT_TRUE(copied);
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
  ASSERT_TRUE(WriteJournal(t.In(kJournalName), t.journal));
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
                    ASSERT_TRUE(WriteJournal(t.keptJournal, OpenRestore(kSaved, 78)));
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
                    ASSERT_TRUE(WriteJournal(t.keptJournal, other));
                  },
                  kStopped, "The connected ZEPHOR is 000000077, not ZEPHOR 000000078", false, false,
                  true, 'S'},
        // A restore stopped while it erases: the erase went out, and the log says so.
        TamperRow{"StoppedDuringTheErase", kSaved, false,
                  [](FolderSafetyTest& t) { t.stopAtErase = true; }, kStopped,
                  "writing the report or conversion did not finish", true, false, true},
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

// The row "StoppedDuringTheErase" leaves the journal at the erase, so that the next run works
// from the backup; and the one that holds the folder leaves the instrument unspoken to.
TEST_F(FolderSafetyTest, StopDuringTheEraseRecordsTheErase) {
  LeaveOpenRestore(kSaved);
  stopAtErase = true;
  Run({"", kSaved, false, {}, kStopped, "", true, false, true});
  RunJournal after;
  ASSERT_TRUE(ReadJournal(In(kJournalName), after));
  EXPECT_EQ(after.restoreStage, RestoreStage::kErased);
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

}  // namespace
}  // namespace zephor::update
