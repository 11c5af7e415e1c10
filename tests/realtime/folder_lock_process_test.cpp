// Two technicians, one folder: two `zephor update` processes started together in one working
// folder, each with its own zephor-sim instrument. The folder's lock is a lock between processes,
// so this runs the real programs in real time; a main-only update keeps it short (the restore
// with its files in the folder is rehearsed in process by the tamperings table).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "image_set.h"
#include "process/child_process.h"
#include "sim_child.h"
#include "temp_dir.h"

namespace zephor::update {
namespace {

using e2e::ReadWhole;
using e2e::SimChild;

constexpr int kRuns = 2;
constexpr int kLimitMs = 120000;

struct Instrument {
  std::string equipment;
  std::string link;
  std::string memoryOut;
  std::string simLog;
  std::string cliLog;
  std::string state;
};

TEST(FolderLockProcessTest, TheSecondRunRefusesAtOnceAndTheFirstFinishesAlone) {
  TempDir dir;
  script::WriteImageSet(dir, {"1.3", "1.3", "1.32", "9"});
  std::vector<Instrument> instruments;
  std::vector<std::unique_ptr<SimChild>> sims;
  for (int i = 0; i < kRuns; ++i) {
    const std::string n = std::to_string(i + 1);
    Instrument it{std::to_string(500 + i),
                  (dir.path() / ("com" + n)).string(),
                  (dir.path() / ("memory" + n + ".bin")).string(),
                  (dir.path() / ("sim" + n + ".txt")).string(),
                  (dir.path() / ("cli" + n + ".txt")).string(),
                  (dir.path() / ("state" + n + ".txt")).string()};
    sims.push_back(std::make_unique<SimChild>(
        std::vector<std::string>{"--link",        it.link,      "--main",        "1.31",
                                 "--boot",        "1.3",        "--update",      "1.3",
                                 "--grade",       "QN",         "--equipment",   it.equipment,
                                 "--generate-db", n + ":3000",  "--ready-delay", "200",
                                 "--memory-out",  it.memoryOut, "--state-out",   it.state},
        it.simLog));
    ASSERT_NE(sims.back()->ready(), "");
    instruments.push_back(it);
  }
  const std::vector<std::string> originals = {ReadWhole(instruments[0].memoryOut),
                                              ReadWhole(instruments[1].memoryOut)};

  std::deque<process::ChildProcess> runs;
  const auto start = std::chrono::steady_clock::now();
  for (const Instrument& it : instruments) {
    std::string why;
    runs.emplace_back().Start(
        ZEPHOR_CLI_PATH, {"update", it.link, "--yes", "--images", dir.path().string()},
        {dir.path(), process::Stream::Null(), process::Stream::AppendTo(it.cliLog),
         process::Stream::AppendTo(it.cliLog), false},
        why);
  }
  // Whichever took the folder first finishes; the other is refused before its first command.
  int codes[kRuns] = {-1, -1};
  double endedAfterS[kRuns] = {0, 0};
  for (int done = 0; done < kRuns;) {
    for (int i = 0; i < kRuns; ++i) {
      if (codes[i] != -1 || !runs[i].Ended(codes[i])) continue;
      endedAfterS[i] =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      ++done;
    }
    ASSERT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kLimitMs));
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const int winner = codes[0] == 0 ? 0 : 1;
  const int refused = 1 - winner;
  ASSERT_EQ(codes[winner], 0) << ReadWhole(instruments[winner].cliLog);
  ASSERT_EQ(codes[refused], 6) << ReadWhole(instruments[refused].cliLog);
  EXPECT_LT(endedAfterS[refused], endedAfterS[winner]);
  EXPECT_NE(ReadWhole(instruments[refused].cliLog)
                .find("Another update is running in this folder (process "),
            std::string::npos)
      << ReadWhole(instruments[refused].cliLog);
  EXPECT_EQ(ReadWhole(instruments[refused].simLog).find("command"), std::string::npos)
      << ReadWhole(instruments[refused].simLog);
  EXPECT_EQ(ReadWhole(instruments[refused].memoryOut), originals[refused]);
  EXPECT_NE(ReadWhole(instruments[refused].state).find("main=1.31\n"), std::string::npos);
  EXPECT_NE(ReadWhole(instruments[winner].state).find("main=1.32\n"), std::string::npos);
  EXPECT_EQ(ReadWhole(instruments[winner].memoryOut), originals[winner]);
  // The winner's journal is gone with its run; the refused run left none of its own.
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    EXPECT_FALSE(entry.path().filename().string().starts_with("ZEPHORrestore-")) << entry.path();
  }
}

}  // namespace
}  // namespace zephor::update
