// A power cut anywhere in Make Update, and every disk it may leave: for each cut point of a whole
// run (before each file operation, before each instrument command and image header, just after
// each header's ACK, inside each transfer, and after the run) every crash state of the model disk
// is built, the instrument is left alone for two minutes, and the next run (and one more where its
// words ask for it) must bring the instrument to its new programs with its surveys restored and a
// whole copy of them on the disk, without a false success on the way.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "crash_bench.h"
#include "database/conversion.h"
#include "database/database_file.h"
#include "sim/database_generator.h"
#include "update/folder_names.h"

namespace zephor::update::crash {
namespace {

constexpr std::size_t kSurveyBytes = 3000;
// A "QH" 1.31 gets its surveys back converted; "QN" and "Q" are saved and erased by the restore.
constexpr Grade kGrades[] = {
    {"QH", "1.31", 5, true}, {"QN", "1.28", 6, false}, {"Q", "1.31", 7, false}};
// The next run, and one more where the words of the first ask for it.
constexpr int kRunsAfterTheCut = 2;
// A failing state prints its runs' logs; past this many, only its cut, its units and why.
constexpr int kFailuresInFull = 3;
constexpr std::size_t kStatesAtLeast = 1000;

Bytes SurveysOf(const Grade& grade) { return sim::GenerateDatabase(grade.seed, kSurveyBytes); }

// What a "QH" memory holds after its restore: the conversion of its surveys.
Bytes Converted(const Bytes& surveys) {
  files::ModelDisk scratch;
  YesPanel quiet;
  device::Station aside;
  aside.panel = &quiet;
  aside.disk = &scratch;
  EXPECT_TRUE(database::ConvertDatabase(aside, surveys, "."));
  return scratch.Contents(database::kConversionFileName).value_or(Bytes{});
}

// True when a file of the working folder begins with the surveys (a download is padded to whole
// blocks): ZEPHORdata.bin or a dated backup.
bool SurveysKept(const files::DiskImage& image, const Bytes& surveys) {
  for (const auto& [name, entry] : image) {
    if (entry.kind != files::EntryKind::kFile || name.find('/') != std::string::npos) continue;
    if (entry.bytes.size() >= surveys.size() &&
        std::equal(surveys.begin(), surveys.end(), entry.bytes.begin())) {
      return true;
    }
  }
  return false;
}

struct Expected {
  const Grade& grade;
  Bytes surveys;
  Bytes memory;  // after the restore
};

// What keeps a state from its end: empty once the instrument runs its new programs, its memory
// holds its restored surveys, and what lasts on the disk holds a whole copy of the surveys and no
// open journal (a finished restore would be offered again).
std::string EndStateMissing(const Bench& bench, const files::ModelDisk& disk,
                            const Expected& expected) {
  const sim::InstrumentState& now = bench.instrument();
  if (now.mainVersion != "1.40" || now.bootVersion != "1.3" || now.updateVersion != "1.3") {
    return "the instrument runs boot " + now.bootVersion + ", update " + now.updateVersion +
           ", main " + now.mainVersion;
  }
  if (now.memory != expected.memory) {
    return "its memory holds " + std::to_string(now.memory.size()) + " bytes, not the " +
           std::to_string(expected.memory.size()) + " of its restore";
  }
  const files::DiskImage lasting = disk.Durable();
  if (!SurveysKept(lasting, expected.surveys)) return "no whole copy of the surveys lasts on disk";
  for (const auto& entry : lasting) {
    if (IsJournalName(entry.first)) return entry.first + " lasts on the disk after the run";
  }
  return {};
}

enum class Ending { kFinished, kFalseSuccess, kNotFinished };

// The runs after a cut on the disk it left: the next one, and one more where its words say so.
Ending FinishState(Bench& bench, const files::DiskImage& image, const Expected& expected,
                   std::string& why, bool& lost) {
  files::ModelDisk disk(image);
  Ending ending = Ending::kNotFinished;
  for (int run = 0; run < kRunsAfterTheCut; ++run) {
    const UpdateOutcome outcome = bench.Run(disk);
    why = EndStateMissing(bench, disk, expected);
    if (outcome == UpdateOutcome::kDone) {
      ending = why.empty() ? Ending::kFinished : Ending::kFalseSuccess;
      break;
    }
    const YesPanel& panel = bench.lastPanel;
    if (outcome == UpdateOutcome::kNoInstrument && panel.Told("switch it off and on")) {
      bench.PowerCycle();
    } else if ((outcome != UpdateOutcome::kRestoreIncomplete &&
                outcome != UpdateOutcome::kStopped) ||
               !panel.Told("Make Update")) {
      why = "run " + std::to_string(run + 1) + " ended (" +
            std::to_string(static_cast<int>(outcome)) + ") without a word of another run";
      break;
    }
    if (why.empty()) why = "the runs did not end in success";
  }
  lost = !SurveysKept(disk.Durable(), expected.surveys) &&
         bench.instrument().memory != expected.surveys;
  return ending;
}

bool ChangesNothing(files::OperationKind kind) {
  return kind == files::OperationKind::kOpenToRead || kind == files::OperationKind::kRead ||
         kind == files::OperationKind::kStatus || kind == files::OperationKind::kList;
}

// The cut points of a whole run: every moment on the line, every file operation but a read, a
// status or a listing right after another (the disk and the instrument are as they were before
// the one before it), and the end of the run.
std::vector<CutPoint> CutPoints(const Bench& whole, std::uint64_t operations,
                                std::size_t& skipped) {
  std::vector<CutPoint> cuts;
  bool lastChangedNothing = false;
  for (const CutPoint& met : whole.met) {
    if (met.kind == CutPoint::Kind::kFileOperation) {
      const bool pure = ChangesNothing(met.operation);
      const bool duplicate = pure && lastChangedNothing;
      lastChangedNothing = pure;
      if (duplicate) {
        ++skipped;
        continue;
      }
    } else {
      lastChangedNothing = false;
    }
    cuts.push_back(met);
  }
  cuts.push_back({CutPoint::Kind::kFileOperation, operations + 1, "after the run",
                  files::OperationKind::kSyncFolder});
  return cuts;
}

struct Tally {
  std::size_t explored = 0;
  std::size_t finished = 0;
  std::size_t lost = 0;
  int failures = 0;
};

// How the states of one start were finished.
struct Finishing {
  std::size_t states = 0;
  std::size_t oneMoreRun = 0;
  std::size_t powerCycled = 0;
};

void Explore(const Grade& grade, Tally& tally) {
  const Expected expected{grade, SurveysOf(grade),
                          grade.writtenBack ? Converted(SurveysOf(grade)) : Bytes{}};
  const files::DiskImage start = Bench::ImagesOnly();

  Bench whole(grade, expected.surveys);
  whole.recording = true;
  files::ModelDisk disk(start);
  const auto began = std::chrono::steady_clock::now();
  const UpdateOutcome outcome = whole.Run(disk);
  const auto took = std::chrono::steady_clock::now() - began;
  ASSERT_EQ(outcome, UpdateOutcome::kDone) << whole.runLogs << whole.simLog;
  ASSERT_EQ(EndStateMissing(whole, disk, expected), "") << whole.runLogs;
  std::size_t skipped = 0;
  const std::vector<CutPoint> cuts = CutPoints(whole, disk.operations(), skipped);
  std::printf(
      "grade %s %s: one whole run: %llu file operations, %zu instrument commands, %.1f s of "
      "virtual time, %.1f ms; %zu cut points (%zu reads after a read left out)\n",
      grade.name, grade.main, static_cast<unsigned long long>(disk.operations()), whole.commands(),
      whole.nowMs() / 1000.0, std::chrono::duration<double, std::milli>(took).count(), cuts.size(),
      skipped);

  Finishing finishing;
  for (const CutPoint& cut : cuts) {
    std::size_t count = 1;
    for (std::size_t i = 0; i < count; ++i) {
      // The instrument cannot be copied: each state replays the run up to its cut.
      Bench bench(grade, expected.surveys);
      files::ModelDisk first(start);
      bench.Run(first, &cut);
      bench.LeaveAlone();
      const std::vector<files::CrashState> states = first.CrashStates();
      count = states.size();
      std::string why;
      bool lost = false;
      const Ending ending = FinishState(bench, states[i].image, expected, why, lost);
      ++tally.explored;
      ++finishing.states;
      // The cut run, the next one and maybe one more.
      if (bench.runs() > 2) ++finishing.oneMoreRun;
      if (bench.powerCycles() > 0) ++finishing.powerCycled;
      if (lost) ++tally.lost;
      if (ending == Ending::kFinished) {
        ++tally.finished;
        continue;
      }
      const std::string where = std::string("grade ") + grade.name + " " + grade.main + ", cut " +
                                cut.what + ", " + states[i].description + ": " +
                                (ending == Ending::kFalseSuccess ? "false success: " : "") + why;
      if (tally.failures++ < kFailuresInFull) {
        ADD_FAILURE() << where << "\n"
                      << bench.runLogs << "--- the instrument's log\n"
                      << bench.simLog;
      } else {
        ADD_FAILURE() << where;
      }
    }
  }
  std::printf("grade %s %s: %zu crash states; %zu took one more run, %zu a power cycle\n",
              grade.name, grade.main, finishing.states, finishing.oneMoreRun,
              finishing.powerCycled);
}

TEST(PowerCutTest, EveryDiskACutLeavesIsFinishedByTheNextRun) {
  Tally tally;
  for (const Grade& grade : kGrades) Explore(grade, tally);
  std::printf("crash states: %zu explored, %zu finished by the next run, %zu surveys lost\n",
              tally.explored, tally.finished, tally.lost);
  EXPECT_EQ(tally.finished, tally.explored);
  EXPECT_EQ(tally.lost, 0u);
  EXPECT_GE(tally.explored, kStatesAtLeast);
}

// The model disk fails on demand, as SQLite's test layer does: an I/O error at a chosen
// operation, a full disk, a read that brings other bytes than were written. Each row loses
// nothing, tells the technician what happened, and the next run finishes the update.
struct FaultRow {
  const char* name;
  enum class Kind { kIoError, kOtherBytes, kDiskFull } kind;
  files::OperationKind operation;  // the disk is full from the start of this one
  const char* file;                // kBackup: the dated backup the run makes
  std::uint64_t nth;               // of the operations of that kind on that file
  const char* words;               // what the technician reads
  bool memoryKept;                 // the instrument's memory is not erased by the first run
};

constexpr const char* kBackup = "the dated backup";
// Room left when the disk fills: less than the 3 072 bytes of the saved memory.
constexpr std::uint64_t kRoomLeft = 1024;

void PrintTo(const FaultRow& row, std::ostream* out) { *out << row.name; }

using Op = files::OperationKind;
using FaultKind = FaultRow::Kind;
const FaultRow kFaultRows[] = {
    {"BackupCreated", FaultKind::kIoError, Op::kCreate, kBackup, 1,
     "could not be written or read back (the disk failed to read or write): the memory is not "
     "erased",
     true},
    {"BackupReadBack", FaultKind::kIoError, Op::kOpenToRead, kBackup, 1,
     "could not be written or read back (the disk failed to read or write): the memory is not "
     "erased",
     true},
    {"BackupReadsOtherBytes", FaultKind::kOtherBytes, Op::kRead, kBackup, 1,
     "could not be written or read back (it reads back different): the memory is not erased", true},
    // Start, newboot, boot, update, main: the sixth rewrite records the saved backup.
    {"JournalRewriteBeforeTheErase", FaultKind::kIoError, Op::kRename,
     "ZEPHORrestore-000000077.json", 6, "recording the saved backup did not finish", true},
    {"ConversionWritten", FaultKind::kIoError, Op::kWrite, "_Conversion.txt.tmp", 1,
     "Can't open file _Conversion.txt", false},
    {"FullDuringTheDownload", FaultKind::kDiskFull, Op::kCreate, "ZEPHORdata.bin.part", 1,
     "the disk is full after", true},
    {"FullDuringTheBackup", FaultKind::kDiskFull, Op::kCreate, kBackup, 1,
     "could not be written or read back (the disk is full): the memory is not erased", true},
};

class FaultRowTest : public ::testing::TestWithParam<FaultRow> {};

TEST_P(FaultRowTest, LosesNothingSaysWhyAndTheNextRunFinishes) {
  const FaultRow& row = GetParam();
  const Grade& grade = kGrades[0];
  const Expected expected{grade, SurveysOf(grade), Converted(SurveysOf(grade))};
  const files::DiskImage start = Bench::ImagesOnly();

  // A whole run names the dated backup and tells how full the disk is at each new file.
  Bench whole(grade, expected.surveys);
  files::ModelDisk measured(start);
  std::map<std::string, std::uint64_t> usedAtCreate;
  std::string backupName;
  whole.watch = [&](const files::Operation& operation) {
    if (operation.kind != Op::kCreate) return;
    std::uint64_t used = 0;
    for (const auto& entry : measured.Now()) used += entry.second.bytes.size();
    const std::string name = std::filesystem::path(operation.path).filename().string();
    usedAtCreate.emplace(IsDatedBackupName(name, testing::kEquipment) ? kBackup : name, used);
    if (IsDatedBackupName(name, testing::kEquipment)) backupName = name;
  };
  ASSERT_EQ(whole.Run(measured), UpdateOutcome::kDone) << whole.runLogs;
  ASSERT_FALSE(backupName.empty());

  Bench bench(grade, expected.surveys);
  files::ModelDisk disk(start);
  const std::string file = row.file == kBackup ? backupName : row.file;
  if (row.kind == FaultKind::kDiskFull) {
    ASSERT_EQ(usedAtCreate.count(row.file), 1u) << row.file;
    disk.SetCapacity(usedAtCreate[row.file] + kRoomLeft);
  } else {
    disk.AddFault({row.operation, file, row.nth, row.kind == FaultKind::kOtherBytes, false});
  }
  EXPECT_NE(bench.Run(disk), UpdateOutcome::kDone) << bench.runLogs;
  EXPECT_TRUE(bench.lastPanel.Told(row.words)) << bench.runLogs;
  if (row.memoryKept) {
    EXPECT_EQ(bench.instrument().memory, expected.surveys) << bench.runLogs;
  }
  EXPECT_TRUE(SurveysKept(disk.Durable(), expected.surveys) ||
              bench.instrument().memory == expected.surveys);

  // The fault is gone (the disk freed, the read good again); the folder is as the run left it.
  std::string why;
  bool lost = false;
  EXPECT_EQ(FinishState(bench, disk.Now(), expected, why, lost), Ending::kFinished)
      << why << "\n"
      << bench.runLogs;
  EXPECT_FALSE(lost);
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultRowTest, ::testing::ValuesIn(kFaultRows),
                         [](const ::testing::TestParamInfo<FaultRow>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace zephor::update::crash
