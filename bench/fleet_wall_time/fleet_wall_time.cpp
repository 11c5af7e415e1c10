// Four instruments at 9600 baud (grades "QN" and "QH", memories of different sizes): each
// updated alone by zephor update, then all four at once by zephor fleet. The fleet's wall time
// against the slowest instrument alone; the target is at most 1.20.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "process/child_process.h"
#include "sim_child.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kRunLimitMs = 30 * 60 * 1000;
constexpr double kTarget = 1.20;
constexpr std::size_t kStampAt = 16;
constexpr std::size_t kStampGap = 8;
constexpr std::size_t kStampWidth = 5;

struct Instrument {
  const char* link;
  const char* grade;
  std::vector<std::string> state;
};

// An image filled with its letter, with a version and a build stamp as the instrument reads them.
void WriteImage(const fs::path& dir, const char* name, std::size_t size, char filler,
                const std::string& version, const std::string& build = {}) {
  std::string bytes(size, filler);
  std::size_t at = kStampAt;
  for (const auto& [marker, value] :
       {std::pair<std::string, std::string>{"Version xx", version}, {"Build xx", build}}) {
    if (value.empty()) continue;
    std::string text = marker + value;
    text.resize(marker.size() + kStampWidth, ' ');
    bytes.replace(at, text.size(), text);
    at += text.size() + kStampGap;
  }
  std::ofstream(dir / name, std::ios::binary) << bytes;
}

// The four instruments, each reset to its outdated state before each run.
std::vector<Instrument> Instruments(const fs::path& dir) {
  const auto state = [&dir](const char* link, const char* main, const char* bootAndUpdate,
                            const char* grade, const char* equipment, const char* memory) {
    return Instrument{
        link,
        grade,
        {"--link", (dir / link).string(), "--main", main, "--boot", bootAndUpdate, "--update",
         bootAndUpdate, "--grade", grade, "--equipment", equipment, "--generate-db", memory,
         "--ready-delay", "2000", "--conversion-ms", "2000", "--paced"}};
  };
  return {state("com1", "1.28", "1.2", "QN", "101", "1:24000"),
          state("com2", "1.31", "1.3", "QH", "202", "2:16000"),
          state("com3", "1.31", "1.3", "QN", "303", "3:20000"),
          state("com4", "1.28", "1.2", "QH", "404", "4:12000")};
}

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// zephor with args to its end; its wall time in seconds, < 0 when it did not end with 0.
double Timed(const fs::path& dir, const std::vector<std::string>& args) {
  const auto began = Clock::now();
  zephor::process::ChildProcess child;
  std::string why;
  child.Start(ZEPHOR_CLI_PATH, args, zephor::process::ChildSetup::Lending(dir, -1, -1, -1), why);
  const int code = child.Finish(kRunLimitMs);
  if (code != 0) std::printf("  zephor %s ended with %d\n", args.front().c_str(), code);
  return code == 0 ? Seconds(began) : -1;
}

}  // namespace

int main() {
  const fs::path dir = fs::temp_directory_path() / "zephor_bench_fleet";
  fs::remove_all(dir);
  fs::create_directories(dir);
  WriteImage(dir, "newboot.bin", 260, 'n', "");
  WriteImage(dir, "boot.bin", 3000, 'b', "1.3");
  WriteImage(dir, "update.bin", 4200, 'u', "1.3");
  WriteImage(dir, "main1p29.bin", 2000, 's', "1.29");
  WriteImage(dir, "main.bin", 7000, 'm', "1.40", "7");
  const std::vector<Instrument> instruments = Instruments(dir);

  std::printf("each instrument alone (zephor update --yes):\n");
  double slowest = 0, sum = 0;
  for (const Instrument& instrument : instruments) {
    const zephor::e2e::SimChild sim(instrument.state);
    const fs::path folder = dir / (std::string("alone-") + instrument.link);
    fs::create_directories(folder);
    const double took = Timed(dir, {"update", (dir / instrument.link).string(), "--yes", "--images",
                                    dir.string(), "--folder", folder.string()});
    if (took < 0) return 1;
    std::printf("  %s %-4s %6.1f s\n", instrument.link, instrument.grade, took);
    slowest = std::max(slowest, took);
    sum += took;
  }

  std::vector<std::unique_ptr<zephor::e2e::SimChild>> sims;
  std::vector<std::string> args{"fleet"};
  for (const Instrument& instrument : instruments) {
    sims.push_back(std::make_unique<zephor::e2e::SimChild>(instrument.state));
    args.push_back((dir / instrument.link).string());
  }
  args.insert(args.end(), {"--yes", "--images", dir.string(), "--out", (dir / "fleet").string()});
  const double fleet = Timed(dir, args);
  if (fleet < 0) return 1;
  std::printf("one after another: %6.1f s\n", sum);
  std::printf("slowest alone:     %6.1f s\n", slowest);
  std::printf("zephor fleet:      %6.1f s  (%.2f of the slowest alone; target at most %.2f)\n",
              fleet, fleet / slowest, kTarget);
  fs::remove_all(dir);
  return fleet / slowest <= kTarget ? 0 : 1;
}
