// Four kinds of instrument at 9600 baud (grades "QN" and "QH", memories of different sizes): each
// updated alone by zephor update, then sixteen, four of each kind, at once by one zephor fleet.
// The fleet's wall time against the slowest instrument alone (target at most 1.10), and the
// processor time of the fleet and its runs, the simulators left out (target under 10 % of one
// core over the fleet's wall time).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "../support/cpu_time.h"
#include "../support/image_set.h"
#include "process/child_process.h"
#include "sim_child.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kRunLimitMs = 30 * 60 * 1000;
constexpr double kWallTarget = 1.10;
constexpr double kCpuTargetPercent = 10.0;
constexpr int kCopiesOfEachKind = 4;
// Equipment numbers of a kind's copies lie this far apart; their memories are the same, so each
// copy takes as long as its kind alone.
constexpr int kCopyEquipmentStep = 1000;

struct Kind {
  const char* main;
  const char* bootAndUpdate;
  const char* grade;
  int equipment;
  int memorySize;
};

// The four kinds; each copy gets its own link and equipment number.
constexpr Kind kKinds[] = {{"1.28", "1.2", "QN", 101, 24000},
                           {"1.31", "1.3", "QH", 202, 16000},
                           {"1.31", "1.3", "QN", 303, 20000},
                           {"1.28", "1.2", "QH", 404, 12000}};

struct Instrument {
  std::string link;
  const char* grade;
  std::vector<std::string> state;
};

Instrument Copy(const fs::path& dir, std::size_t kind, int copy) {
  const Kind& k = kKinds[kind];
  const int number = static_cast<int>(kind) + 1 + copy * static_cast<int>(std::size(kKinds));
  const std::string link = "com" + std::to_string(number);
  const std::string equipment = std::to_string(k.equipment + copy * kCopyEquipmentStep);
  const std::string memory = std::to_string(kind + 1) + ":" + std::to_string(k.memorySize);
  return Instrument{
      link,
      k.grade,
      {"--link", (dir / link).string(), "--main", k.main, "--boot", k.bootAndUpdate, "--update",
       k.bootAndUpdate, "--grade", k.grade, "--equipment", equipment, "--generate-db", memory,
       "--ready-delay", "2000", "--conversion-ms", "2000", "--paced"}};
}

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// What one zephor run took: its wall time, and the processor time of it and of the runs it
// started; wall < 0 when it did not end with 0.
struct Took {
  double wall = -1;
  double cpu = 0;
};

Took Timed(const fs::path& dir, const std::vector<std::string>& args) {
  const double cpuBefore = zephor::bench::ReapedChildrenCpuSeconds();
  const auto began = Clock::now();
  zephor::process::ChildProcess child;
  std::string why;
  child.Start(ZEPHOR_CLI_PATH, args, zephor::process::ChildSetup::Lending(dir, -1, -1, -1), why);
  const int code = child.Finish(kRunLimitMs);
  Took took;
  took.cpu = zephor::bench::ReapedChildrenCpuSeconds() - cpuBefore;
  if (code == 0) took.wall = Seconds(began);
  if (code != 0) std::printf("  zephor %s ended with %d\n", args.front().c_str(), code);
  return took;
}

}  // namespace

int main() {
  const fs::path dir = fs::temp_directory_path() / "zephor_bench_fleet";
  fs::remove_all(dir);
  fs::create_directories(dir);
  zephor::bench::WriteImageSet(dir);

  std::printf("each kind alone (zephor update --yes):\n");
  double slowest = 0;
  for (std::size_t kind = 0; kind < std::size(kKinds); ++kind) {
    const Instrument instrument = Copy(dir, kind, 0);
    const zephor::e2e::SimChild sim(instrument.state);
    const fs::path folder = dir / ("alone-" + instrument.link);
    fs::create_directories(folder);
    const Took took = Timed(dir, {"update", (dir / instrument.link).string(), "--yes", "--images",
                                  dir.string(), "--folder", folder.string()});
    if (took.wall < 0) return 1;
    std::printf("  %s %-4s %6.1f s, %5.2f s CPU\n", instrument.link.c_str(), instrument.grade,
                took.wall, took.cpu);
    slowest = std::max(slowest, took.wall);
  }

  // The simulators run until the fleet's time is taken: their processor time is not in it.
  std::vector<std::unique_ptr<zephor::e2e::SimChild>> sims;
  std::vector<std::string> args{"fleet"};
  for (int copy = 0; copy < kCopiesOfEachKind; ++copy) {
    for (std::size_t kind = 0; kind < std::size(kKinds); ++kind) {
      const Instrument instrument = Copy(dir, kind, copy);
      sims.push_back(std::make_unique<zephor::e2e::SimChild>(instrument.state));
      args.push_back((dir / instrument.link).string());
    }
  }
  args.insert(args.end(), {"--yes", "--images", dir.string(), "--out", (dir / "fleet").string()});
  const Took fleet = Timed(dir, args);
  if (fleet.wall < 0) return 1;
  const double percent = 100.0 * fleet.cpu / fleet.wall;
  std::printf("slowest alone:     %6.1f s\n", slowest);
  std::printf("zephor fleet of %zu: %6.1f s  (%.3f of the slowest alone; target at most %.2f)\n",
              sims.size(), fleet.wall, fleet.wall / slowest, kWallTarget);
  std::printf("fleet and runs:    %6.2f s CPU, %.1f %% of one core (target under %.0f %%)\n",
              fleet.cpu, percent, kCpuTargetPercent);
  sims.clear();
  fs::remove_all(dir);
  return fleet.wall / slowest <= kWallTarget && percent < kCpuTargetPercent ? 0 : 1;
}
