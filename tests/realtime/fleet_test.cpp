// zephor fleet as a process against zephor-sim instruments, in real time: killed with SIGKILL in
// the middle of its instruments' loads, it leaves no run unwatched. Each run sees its fleet gone,
// stops through its clean-up (the cancel sequence, its journal kept) within seconds, and the next
// fleet finishes every instrument. The fleet's own logic is covered on virtual time (the app
// tests); this proves the process boundary.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
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
using json = nlohmann::json;

// The runs of a killed fleet stop within this; their clean-up takes a few seconds.
constexpr auto kRunsGoneWithin = std::chrono::seconds(15);
constexpr auto kLookEvery = std::chrono::milliseconds(20);
constexpr auto kSimLogPatience = std::chrono::seconds(60);
constexpr int kFleetLimitMs = 120000;
constexpr int kExitHangUp = 129;
constexpr int kExitKilled = 137;

std::string Number(int equipment) {
  char text[16];
  std::snprintf(text, sizeof text, "%09d", equipment);
  return text;
}

bool AwaitLog(const std::filesystem::path& path, const std::string& text) {
  const auto giveUp = std::chrono::steady_clock::now() + kSimLogPatience;
  while (ReadWhole(path).find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() > giveUp) return false;
    std::this_thread::sleep_for(kLookEvery);
  }
  return true;
}

// The zephor processes whose parent is this program: a killed fleet's runs, once they are ours.
std::vector<pid_t> OrphanedRuns() {
  std::vector<pid_t> runs;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string stat = ReadWhole(entry.path() / "stat");
    // "PID (NAME) STATE PARENT ..."; the name may hold spaces and brackets.
    const std::size_t open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    char state = 0;
    long parent = 0;
    if (std::sscanf(stat.c_str() + close + 1, " %c %ld", &state, &parent) != 2) continue;
    if (parent == getpid() && stat.substr(open + 1, close - open - 1) == "zephor") {
      runs.push_back(static_cast<pid_t>(std::stol(stat)));
    }
  }
  return runs;
}

TEST(FleetProcessTest, AKilledFleetLeavesNoRunAndTheNextFinishesEveryInstrument) {
  // The runs of the fleet killed below become this program's children, so their ends can be
  // collected and their exit codes read.
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  TempDir dir;
  script::WriteImageSet(dir, {"1.2", "1.2", "1.35", "5"});
  // Long enough that the kill finds every transfer running.
  dir.Write("main.bin", script::ImageBytes({"main.bin", 400000, 'm'}, "1.35", "5"));
  const std::vector<int> equipment{1, 2};
  std::vector<std::unique_ptr<SimChild>> sims;
  std::vector<std::string> fleetArgs{"fleet"};
  for (const int number : equipment) {
    const std::string base = (dir.path() / ("com" + std::to_string(number))).string();
    sims.push_back(std::make_unique<SimChild>(
        std::vector<std::string>{"--link", base, "--equipment", std::to_string(number), "--main",
                                 "1.32", "--boot", "1.2", "--update", "1.2", "--grade", "QN",
                                 "--state-out", base + ".state"},
        base + ".log"));
    ASSERT_NE(sims.back()->ready(), "") << base;
    fleetArgs.push_back(base);
  }
  fleetArgs.insert(fleetArgs.end(), {"--yes", "--images", dir.path().string(), "--out",
                                     (dir.path() / "out").string(), "--json",
                                     (dir.path() / "report.json").string()});
  const std::filesystem::path printed = dir.path() / "fleet.txt";
  const auto startFleet = [&](process::ChildProcess& fleet) {
    std::string why;
    ASSERT_TRUE(
        fleet.Start(ZEPHOR_CLI_PATH, fleetArgs,
                    {dir.path(), process::Stream::Null(), process::Stream::AppendTo(printed),
                     process::Stream::AppendTo(printed), false},
                    why))
        << why;
  };

  process::ChildProcess killed;
  startFleet(killed);
  for (const int number : equipment) {
    ASSERT_TRUE(
        AwaitLog(dir.path() / ("com" + std::to_string(number) + ".log"), "header accepted"));
  }
  // The transfers are under way once the headers are taken.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  killed.Signal(SIGKILL);
  ASSERT_EQ(killed.Finish(kFleetLimitMs), kExitKilled);

  // No run is left after the limit: each stopped as on a hang-up.
  std::map<pid_t, int> ends;
  const auto giveUp = std::chrono::steady_clock::now() + kRunsGoneWithin;
  for (std::vector<pid_t> left = OrphanedRuns(); !left.empty(); left = OrphanedRuns()) {
    for (const pid_t run : left) {
      int status = 0;
      if (waitpid(run, &status, WNOHANG) == run) {
        ends[run] = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
    }
    ASSERT_LT(std::chrono::steady_clock::now(), giveUp) << left.size() << " runs still there\n"
                                                        << ReadWhole(printed);
    std::this_thread::sleep_for(kLookEvery);
  }
  EXPECT_EQ(ends.size(), equipment.size()) << ReadWhole(printed);
  for (const auto& [run, code] : ends) EXPECT_EQ(code, kExitHangUp) << "run " << run;
  for (const int number : equipment) {
    SCOPED_TRACE(number);
    const std::filesystem::path folder = dir.path() / "out" / ("ZEPHOR-" + Number(number));
    EXPECT_NE(ReadWhole(dir.path() / ("com" + std::to_string(number) + ".log"))
                  .find("receive cancelled: the sender sent two CAN"),
              std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(folder / ("ZEPHORrestore-" + Number(number) + ".json")));
  }

  // The next fleet finds each journal in its folder and finishes every instrument.
  process::ChildProcess next;
  startFleet(next);
  EXPECT_EQ(next.Finish(kFleetLimitMs), 0) << ReadWhole(printed);
  const json report = json::parse(ReadWhole(dir.path() / "report.json"), nullptr, false);
  ASSERT_TRUE(report.is_object()) << ReadWhole(printed);
  for (const json& instrument : report["instruments"]) {
    EXPECT_EQ(instrument["exitCode"], 0) << instrument.dump(2);
  }
  for (const int number : equipment) {
    const std::string state = ReadWhole(dir.path() / ("com" + std::to_string(number) + ".state"));
    EXPECT_NE(state.find("main=1.35\n"), std::string::npos) << state;
  }
}

}  // namespace
}  // namespace zephor::update
