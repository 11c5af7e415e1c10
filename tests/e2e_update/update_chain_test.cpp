// End to end on virtual time: Make Update and the restore as the command line runs them, against
// the simulated instrument in this process; the saved files, the journal, the instrument's
// versions and memory afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "database/conversion.h"
#include "database/database_file.h"
#include "e2e_text.h"
#include "image_set.h"
#include "recording_panel.h"
#include "sim/database_generator.h"
#include "temp_dir.h"
#include "virtual_bench.h"

namespace zephor::update {
namespace {

using Bytes = std::vector<std::uint8_t>;
using e2e::CountOf;
using e2e::InOrder;

constexpr long kEquipment = 123456789;

// An outdated grade "QN" instrument on main 1.28 with surveys: the full sequence with the special
// main, then the database restore.
sim::InstrumentState OldQnInstrument() {
  sim::InstrumentState state;
  state.mainVersion = "1.28";
  state.bootVersion = "1.2";
  state.updateVersion = "1.2";
  state.build = 5;
  state.grade = "QN";
  state.equipmentNumber = kEquipment;
  state.memory = sim::GenerateDatabase(7, 4000);
  return state;
}

// The instrument with one of its counted faults (refused headers, cancelled transfers) set.
sim::FaultSet Faulted(int sim::FaultSet::*count, int n) {
  sim::FaultSet faults;
  faults.*count = n;
  return faults;
}

bool JournalLeft(const TempDir& dir) {
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    if (entry.path().filename().string().starts_with("ZEPHORrestore-")) return true;
  }
  return false;
}

std::vector<std::filesystem::path> DatedBackups(const TempDir& dir, long equipment) {
  char prefix[32] = {};
  std::snprintf(prefix, sizeof prefix, "ZEPHORdata-%09ld-", equipment);
  std::vector<std::filesystem::path> dated;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    if (entry.path().filename().string().starts_with(prefix)) dated.push_back(entry.path());
  }
  return dated;
}

Bytes ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A saved copy holds the memory as it was, padded to whole blocks.
bool HoldsAtItsStart(const Bytes& saved, const Bytes& original) {
  return saved.size() >= original.size() &&
         std::equal(original.begin(), original.end(), saved.begin());
}

// What the conversion makes of a memory, worked out apart from the run.
Bytes ConvertedApart(const TempDir& dir, const Bytes& memory) {
  const std::filesystem::path apart = dir.path() / "apart";
  std::filesystem::create_directory(apart);
  RecordingPanel quiet;
  device::Station station;
  station.panel = &quiet;
  EXPECT_TRUE(database::ConvertDatabase(station, memory, apart));
  return ReadBytes(apart / database::kConversionFileName);
}

class UpdateChainTest : public ::testing::Test {
 protected:
  TempDir dir;
  e2e::VirtualBench bench{dir.path()};
};

TEST_F(UpdateChainTest, CancelOfTheV140WarningLoadsNothing) {
  script::WriteImageSet(dir, {"1.2", "1.2", "1.40", "5"});
  sim::InstrumentState state;
  state.mainVersion = "1.31";
  state.grade = "Q";
  bench.Start(state);
  EXPECT_EQ(bench.Update(app::ConsoleAnswer::kCancel), UpdateOutcome::kCancelled)
      << bench.printed();
  EXPECT_EQ(bench.state().mainVersion, "1.31");
  EXPECT_EQ(bench.simLog().find("header"), std::string::npos) << bench.simLog();
}

// The loader waits for its boot program after a run stopped past the newboot; the next run serves
// it and the update program, asks the instrument's own main what it holds, and finishes the update
// from that with its special main and its restore.
TEST_F(UpdateChainTest, RunStoppedAfterTheNewbootIsFinishedByTheNextOne) {
  script::WriteImageSet(dir, {"1.3", "1.3", "1.40", "7"});
  // The boot image's header is the second the loader reads.
  bench.Start(OldQnInstrument(), Faulted(&sim::FaultSet::refuseHeader, 2));
  const Bytes original = bench.state().memory;

  EXPECT_EQ(bench.Update(), UpdateOutcome::kStopped) << bench.printed();
  EXPECT_TRUE(
      InOrder(bench.printed(), {"\tLoad of special main Done\n",
                                "\tLoad of new boot in progress...\n", "Update stopped !!"}))
      << bench.printed();
  EXPECT_TRUE(JournalLeft(dir));

  EXPECT_EQ(bench.Update(), UpdateOutcome::kDone) << bench.printed();
  EXPECT_NE(bench.printed().find("The ZEPHOR starts its own main program: it is asked what it "
                                 "holds before anything more is loaded."),
            std::string::npos)
      << bench.printed();
  EXPECT_EQ(CountOf(bench.printed(), "\tLoad of special main in progress...\n"), 1U);
  EXPECT_TRUE(
      InOrder(bench.simLog(),
              {"loaded newboot image", "header refused", "loaded boot image", "loaded update image",
               "loaded special main image", "loaded main image", "download of", "memory erased"}))
      << bench.simLog();
  EXPECT_TRUE(InOrder(bench.printed(), {"\tUpdate finished.\n", "Restart the ZEPHOR !!"}));
  EXPECT_EQ(bench.state().bootVersion, "1.3");
  EXPECT_EQ(bench.state().mainVersion, "1.40");
  EXPECT_TRUE(HoldsAtItsStart(ReadBytes(dir.path() / database::kDatabaseFileName), original));
  EXPECT_TRUE(std::filesystem::exists(dir.path() / database::kConversionFileName));
  EXPECT_FALSE(JournalLeft(dir));
}

// A bad image of the plan stops the run before the instrument hears a banner or a header.
struct BadImageRow {
  const char* name;
  const char* image;
  enum { kEmpty, kMissing, kDirectory } fault;
  UpdateOutcome outcome;
  const char* message;
};

void PrintTo(const BadImageRow& row, std::ostream* out) { *out << row.name; }

class BadImageTest : public UpdateChainTest, public ::testing::WithParamInterface<BadImageRow> {};

TEST_P(BadImageTest, NothingReachesTheInstrument) {
  const BadImageRow& row = GetParam();
  script::WriteImageSet(dir, {"1.3", "1.3", "1.40", "7"});
  const std::filesystem::path image = dir.path() / row.image;
  std::filesystem::remove(image);
  if (row.fault == BadImageRow::kEmpty) dir.Write(row.image, {});
  if (row.fault == BadImageRow::kDirectory) std::filesystem::create_directory(image);
  bench.Start(OldQnInstrument());

  EXPECT_EQ(bench.Update(), row.outcome) << bench.printed();
  EXPECT_NE(bench.printed().find(row.message), std::string::npos) << bench.printed();
  EXPECT_EQ(bench.printed().find("in progress"), std::string::npos) << bench.printed();
  EXPECT_EQ(bench.simLog().find("banner"), std::string::npos) << bench.simLog();
  EXPECT_EQ(bench.simLog().find("header"), std::string::npos) << bench.simLog();
  EXPECT_EQ(bench.simLog().find("erased"), std::string::npos) << bench.simLog();
  EXPECT_FALSE(JournalLeft(dir));
}

INSTANTIATE_TEST_SUITE_P(
    BadImage, BadImageTest,
    ::testing::Values(BadImageRow{"EmptyBoot", "boot.bin", BadImageRow::kEmpty,
                                  UpdateOutcome::kStopped, "Image file boot.bin is empty"},
                      BadImageRow{"MissingSpecialMain", "main1p29.bin", BadImageRow::kMissing,
                                  UpdateOutcome::kCancelled, "Can't open file main1p29.bin"},
                      BadImageRow{"EmptySpecialMain", "main1p29.bin", BadImageRow::kEmpty,
                                  UpdateOutcome::kStopped, "Image file main1p29.bin is empty"},
                      BadImageRow{"DirectoryNamedMain", "main.bin", BadImageRow::kDirectory,
                                  UpdateOutcome::kCancelled, "Can't open file main.bin"}),
    [](const ::testing::TestParamInfo<BadImageRow>& info) { return info.param.name; });

// A "QH" instrument on main 1.28 is erased before its old main is replaced: only after its
// surveys were saved under a dated name; when they cannot be saved, --yes does not erase.
struct QhEraseRow {
  const char* name;
  sim::FaultSet faults;
  UpdateOutcome outcome;
  bool erased;
};

void PrintTo(const QhEraseRow& row, std::ostream* out) { *out << row.name; }

class QhEraseTest : public UpdateChainTest, public ::testing::WithParamInterface<QhEraseRow> {};

TEST_P(QhEraseTest, ErasesOnlyAfterADatedBackup) {
  const QhEraseRow& row = GetParam();
  script::WriteImageSet(dir, {"1.3", "1.3", "1.40", "7"});
  sim::InstrumentState state = OldQnInstrument();
  state.grade = "QH";
  bench.Start(state, row.faults);
  const Bytes original = bench.state().memory;

  EXPECT_EQ(bench.Update(), row.outcome) << bench.printed();
  EXPECT_EQ(bench.simLog().find("memory erased") != std::string::npos, row.erased);
  const std::vector<std::filesystem::path> dated = DatedBackups(dir, kEquipment);
  // Not a terminal: a summary line per transfer, nothing redrawn.
  EXPECT_EQ(bench.printed().find("\033[K"), std::string::npos);
  if (row.erased) {
    EXPECT_NE(bench.printed().find(" bytes received in "), std::string::npos) << bench.printed();
    ASSERT_EQ(dated.size(), 1U) << bench.printed();
    EXPECT_TRUE(HoldsAtItsStart(ReadBytes(dated.front()), original));
    EXPECT_NE(bench.printed().find("\tBackup kept as " + dated.front().filename().string()),
              std::string::npos)
        << bench.printed();
  } else {
    EXPECT_TRUE(dated.empty());
    EXPECT_EQ(bench.state().memory, original);
    EXPECT_NE(bench.printed().find("No backup of the measurements could be saved. Erase anyway?"),
              std::string::npos)
        << bench.printed();
    EXPECT_EQ(bench.simLog().find("header"), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(
    QhErase, QhEraseTest,
    ::testing::Values(QhEraseRow{"SavedThenErased", {}, UpdateOutcome::kDone, true},
                      QhEraseRow{"DownloadCancelledNothingErased",
                                 Faulted(&sim::FaultSet::cancelAtBlock, 1),
                                 UpdateOutcome::kCancelled, false}),
    [](const ::testing::TestParamInfo<QhEraseRow>& info) { return info.param.name; });

// A "QH" instrument on main 1.31 gets main 1.40 and its database back; whatever interrupts the
// restore, a second run finishes it from its journal: the memory ends as the conversion of what it
// held, and the journal is gone.
struct InterruptionRow {
  const char* name;
  const char* grade;  // "QH" gets its database back; "QN" only the conversion on disk
  sim::FaultSet faults;
  const char* stopAfter;  // the instrument's log line after which the run is stopped; or none
  enum { kUpdate, kRestore } second;  // the command that finishes it
  bool newSurveys = false;            // the instrument records surveys between the runs: nothing is
                            // written over them, they are kept, and the restore stays open
};

void PrintTo(const InterruptionRow& row, std::ostream* out) { *out << row.name; }

class RestoreResumeTest : public UpdateChainTest,
                          public ::testing::WithParamInterface<InterruptionRow> {};

TEST_P(RestoreResumeTest, TheNextRunFinishesTheRestore) {
  const InterruptionRow& row = GetParam();
  script::WriteImageSet(dir, {"1.3", "1.3", "1.40", "7"});
  sim::InstrumentState state;
  state.mainVersion = "1.31";
  state.bootVersion = "1.3";
  state.updateVersion = "1.3";
  state.grade = row.grade;
  state.equipmentNumber = 77;
  state.memory = sim::GenerateDatabase(5, 3000);
  bench.Start(state, row.faults);
  const Bytes original = state.memory;
  const bool unwritable = std::string(row.name) == "FolderNotWritable";
  // A folder where the saved database would be written: nothing can be saved there.
  const std::filesystem::path part = dir.path() / "ZEPHORdata.bin.part";
  if (unwritable) std::filesystem::create_directory(part);

  if (row.stopAfter != nullptr) bench.StopWhenLogged(row.stopAfter);
  EXPECT_EQ(bench.Update(), UpdateOutcome::kRestoreIncomplete) << bench.printed();
  if (row.stopAfter != nullptr) {
    EXPECT_NE(bench.printed().find("\tStopped during the database restore"), std::string::npos)
        << bench.printed();
  }
  EXPECT_TRUE(JournalLeft(dir));
  if (unwritable) std::filesystem::remove(part);

  if (row.newSurveys) {
    const Bytes recorded = sim::GenerateDatabase(31, 1500);
    bench.RecordSurveys(recorded);
    EXPECT_EQ(bench.Update(), UpdateOutcome::kRestoreIncomplete) << bench.printed();
    EXPECT_EQ(bench.state().memory, recorded);
    EXPECT_NE(bench.printed().find("holds surveys this restore did not save: they are kept in "
                                   "ZEPHORdata-000000077-"),
              std::string::npos)
        << bench.printed();
    EXPECT_TRUE(JournalLeft(dir));
    return;
  }
  if (row.second == InterruptionRow::kUpdate) {
    EXPECT_EQ(bench.Update(), UpdateOutcome::kDone) << bench.printed();
  } else {
    EXPECT_EQ(bench.Restore(), ResumeOutcome::kFinished) << bench.printed();
  }
  EXPECT_NE(bench.printed().find("The database restore of this ZEPHOR did not finish ("),
            std::string::npos)
      << bench.printed();
  EXPECT_FALSE(JournalLeft(dir));

  const Bytes expected = ConvertedApart(dir, original);
  ASSERT_FALSE(expected.empty());
  if (std::string(row.grade) == "QH") {
    EXPECT_EQ(bench.state().memory, expected);
  } else {
    EXPECT_EQ(ReadBytes(dir.path() / database::kConversionFileName), expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    RestoreResume, RestoreResumeTest,
    ::testing::Values(
        InterruptionRow{"DownloadCancelled", "QH", Faulted(&sim::FaultSet::cancelDownloads, 1),
                        nullptr, InterruptionRow::kUpdate},
        InterruptionRow{"ReadyNeverComes", "QH", sim::Fault::kNeverReady,
                        "restarted (fault: no READY)", InterruptionRow::kRestore},
        InterruptionRow{
            "InterruptAfterTheErase", "QH", {}, "memory erased", InterruptionRow::kUpdate},
        InterruptionRow{"WriteBackCancelled", "QH", Faulted(&sim::FaultSet::cancelUploads, 1),
                        nullptr, InterruptionRow::kRestore},
        InterruptionRow{"WriteBackCancelledThenNewSurveys", "QH",
                        Faulted(&sim::FaultSet::cancelUploads, 1), nullptr,
                        InterruptionRow::kUpdate, true},
        InterruptionRow{"FolderNotWritable", "QH", {}, nullptr, InterruptionRow::kUpdate},
        InterruptionRow{
            "GradeQnInterruptAfterTheErase", "QN", {}, "memory erased", InterruptionRow::kRestore}),
    [](const ::testing::TestParamInfo<InterruptionRow>& info) { return info.param.name; });

}  // namespace
}  // namespace zephor::update
