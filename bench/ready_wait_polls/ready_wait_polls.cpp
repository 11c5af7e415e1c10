// A run waiting for READY, its output not a terminal: zephor update loads a new main into a
// simulated instrument that never says READY, and strace counts the calls of poll, ppoll,
// select, pselect6 and epoll_wait the run makes in 20 s of its wait (target fewer than 500).
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../support/image_set.h"
#include "process/child_process.h"
#include "sim_child.h"

namespace {

namespace fs = std::filesystem;
using zephor::e2e::ReadWhole;

constexpr const char* kStrace = "/usr/bin/strace";
constexpr const char* kWaitedCalls = "trace=poll,ppoll,select,pselect6,epoll_wait";
constexpr int kCountedSeconds = 20;
constexpr int kTargetCalls = 500;
// The load of the main before the wait, and how often its end is looked for.
constexpr int kLoadLimitMs = 120000;
constexpr int kLookEveryMs = 100;
// The restore's wait begins a moment after the update's last line.
constexpr int kSettleMs = 1000;
constexpr int kEndLimitMs = 10000;
constexpr const char* kUpdateDone = "Update finished.";

// The calls on strace -c's "total" line; -1 when there is none.
long TotalCalls(const std::string& summary) {
  std::istringstream lines(summary);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("total") == std::string::npos) continue;
    std::istringstream words(line);
    std::vector<std::string> fields;
    for (std::string w; words >> w;) fields.push_back(w);
    // percent, seconds, microseconds a call, calls, [errors,] "total"
    constexpr std::size_t kCallsField = 3;
    if (fields.size() > kCallsField) return std::stol(fields[kCallsField]);
  }
  return -1;
}

bool WaitForText(const fs::path& file, const char* text, int limitMs) {
  for (int waited = 0; waited < limitMs; waited += kLookEveryMs) {
    if (ReadWhole(file).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(kLookEveryMs));
  }
  return false;
}

}  // namespace

int main() {
  if (!fs::exists(kStrace)) {
    std::fprintf(stderr, "%s is missing: apt-get install strace\n", kStrace);
    return 1;
  }
  const fs::path dir = fs::temp_directory_path() / "zephor_bench_ready_wait";
  fs::remove_all(dir);
  fs::create_directories(dir / "run");
  zephor::bench::WriteImageSet(dir);
  // Boot and update are current: only the main is loaded, and the memory's new layout makes
  // the restore follow, which waits for READY.
  const zephor::e2e::SimChild sim({"--link", (dir / "com1").string(), "--main", "1.31", "--boot",
                                   "1.3", "--update", "1.3", "--grade", "QN", "--equipment", "303",
                                   "--generate-db", "3:2000", "--fault", "never-ready"});
  const fs::path out = dir / "run.out";
  std::FILE* outFile = std::fopen(out.c_str(), "w");
  std::FILE* errFile = std::fopen((dir / "run.err").c_str(), "w");
  if (outFile == nullptr || errFile == nullptr) return 1;
  zephor::process::ChildProcess run;
  std::string why;
  if (!run.Start(ZEPHOR_CLI_PATH,
                 {"update", (dir / "com1").string(), "--yes", "--images", dir.string(), "--folder",
                  (dir / "run").string()},
                 zephor::process::ChildSetup::Lending(dir, -1, fileno(outFile), fileno(errFile)),
                 why)) {
    std::fprintf(stderr, "zephor cannot be started: %s\n", why.c_str());
    return 1;
  }
  if (!WaitForText(out, kUpdateDone, kLoadLimitMs)) {
    std::fprintf(stderr, "the update did not finish:\n%s\n", ReadWhole(out).c_str());
    run.Signal(SIGTERM);
    run.Finish(kEndLimitMs);
    return 1;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));

  const fs::path summary = dir / "strace.txt";
  zephor::process::ChildProcess strace;
  if (!strace.Start(kStrace,
                    {"-f", "-c", "-o", summary.string(), "-e", kWaitedCalls, "-p",
                     std::to_string(run.id())},
                    zephor::process::ChildSetup::Lending(dir, -1, -1, -1), why)) {
    std::fprintf(stderr, "strace cannot be started: %s\n", why.c_str());
    return 1;
  }
  std::this_thread::sleep_for(std::chrono::seconds(kCountedSeconds));
  strace.Signal(SIGINT);
  strace.Finish(kEndLimitMs);
  run.Signal(SIGTERM);
  run.Finish(kEndLimitMs);
  std::fclose(outFile);
  std::fclose(errFile);

  const std::string text = ReadWhole(summary);
  const long calls = TotalCalls(text);
  std::printf("%s", text.c_str());
  std::printf(
      "zephor update waiting for READY, output to a file: %ld calls in %d s (target "
      "fewer than %d)\n",
      calls, kCountedSeconds, kTargetCalls);
  fs::remove_all(dir);
  return calls >= 0 && calls < kTargetCalls ? 0 : 1;
}
