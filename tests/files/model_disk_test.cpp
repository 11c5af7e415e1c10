// The model disk's rules for a power cut, its faults and its hook, with the durable steps of
// src/files run on it: a sync left out of them shows here as a disk that loses a file.
#include "model_disk.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <string_view>

#include "files/folder_file.h"
#include "files/folder_lock.h"

namespace zephor::files {
namespace {

ModelBytes Text(std::string_view text) { return ModelBytes(text.begin(), text.end()); }

// What a name holds in one disk: its bytes as text, or nothing when it is not there.
using Held = std::optional<std::string>;

Held HeldIn(const DiskImage& image, const std::string& name) {
  const auto found = image.find(name);
  if (found == image.end()) return std::nullopt;
  return std::string(found->second.bytes.begin(), found->second.bytes.end());
}

void Write(DiskFile& file, std::string_view text) {
  std::string why;
  ASSERT_TRUE(file.Write(Text(text), why)) << why;
}

void Sync(DiskFile& file) {
  std::string why;
  ASSERT_TRUE(file.Sync(why)) << why;
}

struct CrashRow {
  const char* name;
  // What the disk holds before: "x" with "old" when given.
  std::optional<std::string> before;
  std::function<void(ModelDisk&)> steps;
  std::string watched;     // the name looked at in every state
  std::set<Held> mayHold;  // what it holds across all the states
  std::size_t states = 0;  // how many disks a cut may leave
};

void PrintTo(const CrashRow& row, std::ostream* out) { *out << row.name; }

class CrashStateTest : public ::testing::TestWithParam<CrashRow> {};

TEST_P(CrashStateTest, ACutLeavesOnlyWhatWasSynced) {
  const CrashRow& row = GetParam();
  ModelDisk disk;
  if (row.before) disk.PutFile("x", Text(*row.before));
  row.steps(disk);
  const std::vector<CrashState> states = disk.CrashStates();
  ASSERT_EQ(states.size(), row.states);
  // Leaving every unit out is the disk as synced; keeping them all is the disk the run sees.
  EXPECT_EQ(states.front().image, disk.Durable());
  EXPECT_EQ(states.back().image, disk.Now());
  std::set<Held> held;
  for (const CrashState& state : states) held.insert(HeldIn(state.image, row.watched));
  EXPECT_EQ(held, row.mayHold);
}

const Held kGone = std::nullopt;

INSTANTIATE_TEST_SUITE_P(
    Rules, CrashStateTest,
    ::testing::Values(
        // A new file's bytes and its name reach the disk apart, each only with its own sync.
        CrashRow{"WrittenButUnsyncedFileVanishesOrIsEmpty",
                 std::nullopt,
                 [](ModelDisk& d) {
                   std::string why;
                   auto file = d.Create("x", why);
                   Write(*file, "new");
                 },
                 "x",
                 {kGone, "", "new"},
                 4},
        CrashRow{"RewrittenButUnsyncedFileKeepsItsOldBytes",
                 "old",
                 [](ModelDisk& d) {
                   std::string why;
                   auto file = d.OpenForOutput("x", why);
                   Write(*file, "new");
                 },
                 "x",
                 {"old", "new"},
                 2},
        CrashRow{"SyncedFileVanishesUntilItsFolderIsSynced",
                 std::nullopt,
                 [](ModelDisk& d) {
                   std::string why;
                   auto file = d.Create("x", why);
                   Write(*file, "new");
                   Sync(*file);
                 },
                 "x",
                 {kGone, "new"},
                 2},
        CrashRow{"SyncedAndFolderSyncedFileAlwaysSurvives",
                 std::nullopt,
                 [](ModelDisk& d) {
                   std::string why;
                   EXPECT_TRUE(CreateNewFile(d, "x", Text("new"), why)) << why;
                 },
                 "x",
                 {"new"},
                 1},
        // Three disks, not four: the rename never reaches the disk without the create.
        CrashRow{"RenameWithoutFolderSyncMayBeUndone",
                 "old",
                 [](ModelDisk& d) {
                   std::string why;
                   auto file = d.Create("x.tmp", why);
                   Write(*file, "new");
                   Sync(*file);
                   EXPECT_TRUE(d.Rename("x.tmp", "x", why)) << why;
                 },
                 "x",
                 {"old", "new"},
                 3},
        CrashRow{"RenamedUnsyncedBytesMayLeaveTheNameEmpty",
                 "old",
                 [](ModelDisk& d) {
                   std::string why;
                   auto file = d.Create("x.tmp", why);
                   Write(*file, "new");
                   EXPECT_TRUE(d.Rename("x.tmp", "x", why)) << why;
                   EXPECT_TRUE(d.SyncFolder(".", why)) << why;
                 },
                 "x",
                 {"", "new"},
                 2},
        CrashRow{"ReplacedContentsAreNeverHalfOfEither",
                 "old",
                 [](ModelDisk& d) {
                   std::string why;
                   EXPECT_TRUE(ReplaceContents(d, "x", Text("new"), why)) << why;
                 },
                 "x",
                 {"new"},
                 1},
        CrashRow{"UnsyncedRemovalMayBeUndone",
                 "old",
                 [](ModelDisk& d) {
                   std::string why;
                   EXPECT_EQ(d.Remove("x", why), Removal::kRemoved);
                 },
                 "x",
                 {"old", kGone},
                 2},
        CrashRow{"DurableRemovalNeverComesBack",
                 "old",
                 [](ModelDisk& d) {
                   std::string why;
                   EXPECT_TRUE(RemoveDurably(d, "x", why)) << why;
                 },
                 "x",
                 {kGone},
                 1},
        CrashRow{"NameInANewFolderComesAfterTheFolder",
                 std::nullopt,
                 [](ModelDisk& d) {
                   std::string why;
                   EXPECT_TRUE(d.MakeFolder("sub", why)) << why;
                   EXPECT_NE(d.Create("sub/x", why), nullptr) << why;
                 },
                 "sub/x",
                 {kGone, ""},
                 3},
        // Ten units: the eleven prefixes, from none to all.
        CrashRow{"PastEightUnitsOnlyPrefixes",
                 std::nullopt,
                 [](ModelDisk& d) {
                   std::string why;
                   for (int i = 0; i < 10; ++i) d.Create("f" + std::to_string(i), why);
                 },
                 "f9",
                 {kGone, ""},
                 11}),
    [](const ::testing::TestParamInfo<CrashRow>& info) { return info.param.name; });

// A run of three steps: two backups written and a record read back, against one fault each.
struct FaultRow {
  const char* name;
  std::function<void(ModelDisk&)> arm;
  bool firstWritten;
  bool secondWritten;
  bool readBack;  // read whole and equal to what was put
  std::string why;
};

void PrintTo(const FaultRow& row, std::ostream* out) { *out << row.name; }

class FaultTest : public ::testing::TestWithParam<FaultRow> {};

const std::string kIoError = "the disk failed to read or write";

TEST_P(FaultTest, FailsWhereItWasToldAndNowhereElse) {
  const FaultRow& row = GetParam();
  const ModelBytes record = Text("a survey record of some length");
  const ModelBytes backup = Text("sixteen bytes...");
  ModelDisk disk;
  disk.PutFile("record.bin", record);
  row.arm(disk);
  std::string why;
  std::string failure;
  const bool first = CreateNewFile(disk, "a.bin", backup, why);
  if (!first) failure = why;
  const bool second = CreateNewFile(disk, "b.bin", backup, why);
  if (!second && failure.empty()) failure = why;
  ModelBytes read;
  const bool readWhole = ReadRegularFile(disk, "record.bin", 1024, read, why);
  if (!readWhole && failure.empty()) failure = why;
  EXPECT_EQ(first, row.firstWritten);
  EXPECT_EQ(second, row.secondWritten);
  EXPECT_EQ(readWhole && read == record, row.readBack);
  EXPECT_EQ(failure, row.why);
  // A backup that failed is not left half written.
  EXPECT_EQ(disk.Contents("b.bin").has_value(), row.secondWritten);
  if (row.secondWritten) {
    EXPECT_EQ(*disk.Contents("b.bin"), backup);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultTest,
    ::testing::Values(FaultRow{"NoFault", [](ModelDisk&) {}, true, true, true, ""},
                      FaultRow{"SecondWriteFails",
                               [](ModelDisk& d) {
                                 d.AddFault({OperationKind::kWrite, "", 2});
                               },
                               true, false, true, kIoError},
                      // Create, write, sync and the folder's sync of the first: the fifth is the
                      // second's create.
                      FaultRow{"FifthOperationFails",
                               [](ModelDisk& d) {
                                 d.AddFault({std::nullopt, "", 5});
                               },
                               true, false, true, kIoError},
                      FaultRow{"EveryOperationOnANameFails",
                               [](ModelDisk& d) {
                                 d.AddFault({std::nullopt, "b.bin", 1, false, true});
                               },
                               true, false, true, kIoError},
                      FaultRow{"FolderSyncFails",
                               [](ModelDisk& d) {
                                 d.AddFault({OperationKind::kSyncFolder, "", 1});
                               },
                               false, true, true, kIoError},
                      FaultRow{"DiskFullPastTwentyBytes",
                               [](ModelDisk& d) { d.SetCapacity(30 + 20); }, true, false, true,
                               "the disk is full"},
                      FaultRow{"ReadBringsOtherBytes",
                               [](ModelDisk& d) {
                                 d.AddFault({std::nullopt, "record.bin", 1, true});
                               },
                               true, true, false, ""},
                      FaultRow{"HookFailsTheThirdOperation",
                               [](ModelDisk& d) {
                                 d.SetHook([](const Operation& op) {
                                   return op.number == 3 ? HookAnswer::kFail : HookAnswer::kGoOn;
                                 });
                               },
                               false, true, true, kIoError}),
    [](const ::testing::TestParamInfo<FaultRow>& info) { return info.param.name; });

// The way a test cuts a run before each of its file operations in turn: count them once, then
// cut before the nth and look at every disk the cut may leave.
TEST(ModelDiskHookTest, CutBeforeEveryOperationLeavesTheOldOrTheNewRecord) {
  const auto replace = [](ModelDisk& disk) {
    std::string why;
    return ReplaceContents(disk, "x", Text("new"), why);
  };
  std::uint64_t count = 0;
  {
    ModelDisk disk;
    disk.PutFile("x", Text("old"));
    ASSERT_TRUE(replace(disk));
    count = disk.operations();
    // Remove the stale temporary, create, write, sync, rename, sync the folder.
    EXPECT_EQ(count, 6u);
    EXPECT_EQ(disk.operations(OperationKind::kSyncFolder), 1u);
  }
  std::set<Held> seen;
  for (std::uint64_t cut = 1; cut <= count; ++cut) {
    ModelDisk disk;
    disk.PutFile("x", Text("old"));
    std::string cutBefore;
    disk.SetHook([&](const Operation& op) {
      if (op.number != cut) return HookAnswer::kGoOn;
      cutBefore = OperationName(op.kind);
      return HookAnswer::kCutPower;
    });
    EXPECT_FALSE(replace(disk)) << cut;
    EXPECT_FALSE(disk.powered());
    // Nothing changes once the power is gone.
    const DiskImage atCut = disk.Now();
    EXPECT_FALSE(replace(disk));
    EXPECT_EQ(disk.Now(), atCut);
    for (const CrashState& state : disk.CrashStates()) {
      const Held held = HeldIn(state.image, "x");
      EXPECT_TRUE(held == "old" || held == "new")
          << "cut before " << cutBefore << ": " << state.description;
      seen.insert(held);
    }
  }
  // A cut before the folder's sync may leave either.
  EXPECT_EQ(seen, (std::set<Held>{"old", "new"}));
}

TEST(ModelDiskTest, RefusesWhatIsNoPlainFileAndLocksAFolderOnce) {
  ModelDisk disk;
  disk.PutLink("link");
  disk.PutSpecial("fifo");
  disk.PutFolder("folder");
  std::string why;
  EXPECT_EQ(disk.OpenToRead("link", why), nullptr);
  EXPECT_EQ(why, "it is a link");
  EXPECT_EQ(disk.OpenToRead("fifo", why), nullptr);
  EXPECT_EQ(why, "it is not a plain file (a device, a pipe or a socket)");
  EXPECT_EQ(disk.OpenToRead("folder", why), nullptr);
  EXPECT_EQ(why, "it is a folder");
  EXPECT_EQ(disk.Create("link", why), nullptr);
  EXPECT_EQ(why, "another file or folder of that name is in the way");
  EXPECT_EQ(disk.Create("missing/x", why), nullptr);
  EXPECT_EQ(why, "no such file or folder");

  std::optional<FolderLock> first(FolderLock::Take(disk, "folder"));
  EXPECT_TRUE(first->taken());
  EXPECT_EQ(FolderLock::Take(disk, "folder").outcome(), FolderLock::Outcome::kBusy);
  first.reset();
  EXPECT_TRUE(FolderLock::Take(disk, "folder").taken());

  std::vector<Entry> entries;
  ASSERT_TRUE(disk.List("folder", entries, why)) << why;
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "ZEPHOR.lock");
  EXPECT_EQ(entries[0].kind, EntryKind::kFile);
}

}  // namespace
}  // namespace zephor::files
