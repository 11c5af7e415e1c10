// What a step relies on is on the disk before the step begins: `zephor restore` finishes an open
// restore against zephor-sim under strace, and the order of its system calls shows the dated
// backup synced before the erase command reaches the line, and each journal stage synced before
// the step it names.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "image_set.h"
#include "sim_child.h"
#include "temp_dir.h"
#include "update/run_journal.h"

namespace zephor::update {
namespace {

using e2e::ReadWhole;
using e2e::SimChild;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The first line at or after from that holds every part; lines.size() when none does.
std::size_t Find(const std::vector<std::string>& lines, std::size_t from,
                 const std::vector<std::string>& parts) {
  for (std::size_t i = from; i < lines.size(); ++i) {
    bool all = true;
    for (const std::string& part : parts) all = all && lines[i].find(part) != std::string::npos;
    if (all) return i;
  }
  return lines.size();
}

TEST(SyncOrderProcessTest, BackupAndEachStageReachTheDiskBeforeTheStepThatReliesOnThem) {
  TempDir dir;
  script::WriteImageSet(dir, {"1.3", "1.3", "1.40", "7"});
  const std::string link = (dir.path() / "com1").string();
  SimChild sim({"--link", link, "--main", "1.40", "--boot", "1.3", "--update", "1.3", "--build",
                "7", "--grade", "QH", "--equipment", "77", "--generate-db", "5:3000"});
  ASSERT_NE(sim.ready(), "");
  // The record of a run that loaded main 1.40 and stopped before its restore began.
  RunJournal open;
  open.info.equipmentNumber = 77;
  open.info.grade = "QH";
  open.info.mainVersion = 1.31f;
  open.images = open.loaded = {"main.bin"};
  open.restoreFollows = true;
  ASSERT_TRUE(WriteJournal(files::SystemDisk(), JournalPath(dir.path(), 77), open));

  const std::string trace = (dir.path() / "strace.txt").string();
  const std::string command = "strace -f -y -s 4096 -o " + trace +
                              " -e trace=write,fsync,fdatasync,rename,renameat,renameat2 " +
                              ZEPHOR_CLI_PATH + " restore " + link + " --yes --images " +
                              dir.path().string() + " > " + (dir.path() / "out.txt").string() +
                              " 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << ReadWhole(dir.path() / "out.txt");
  const std::vector<std::string> calls = Lines(ReadWhole(trace));
  ASSERT_FALSE(calls.empty());

  // The backup: written, synced, and only then the erase command on the line.
  const std::size_t backupSync = Find(calls, 0, {"fsync(", "ZEPHORdata-000000077-"});
  const std::size_t erase = Find(calls, 0, {"write(", "erase 40718293"});
  ASSERT_LT(backupSync, calls.size()) << ReadWhole(trace);
  ASSERT_LT(erase, calls.size());
  EXPECT_LT(backupSync, erase);

  // Each stage: its journal written, synced and renamed into place before its next step.
  struct Stage {
    const char* key;
    std::vector<std::string> nextStep;
  };
  const Stage stages[] = {
      {"saved", {"write(", "erase 40718293"}},
      {"erased", {"write(", "_Conversion.txt.tmp>"}},
      {"processed", {"write(", "UPLOAD 3 "}},
  };
  for (const Stage& stage : stages) {
    const std::size_t written = Find(
        calls, 0, {"write(", "ZEPHORrestore-", std::string("restoreStage\\\": \\\"") + stage.key});
    ASSERT_LT(written, calls.size()) << stage.key;
    const std::size_t synced =
        Find(calls, written, {"fsync(", "ZEPHORrestore-000000077.json.tmp>"});
    const std::size_t renamed = Find(calls, synced, {"rename", "ZEPHORrestore-000000077.json"});
    const std::size_t next = Find(calls, written, stage.nextStep);
    EXPECT_LT(synced, renamed) << stage.key;
    EXPECT_LT(renamed, next) << stage.key;
    EXPECT_LT(next, calls.size()) << stage.key;
  }
}

}  // namespace
}  // namespace zephor::update
