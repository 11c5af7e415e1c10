// In real time, across the process boundary: `zephor update` against zephor-sim on a
// pseudo-terminal, through the system's driver and clock. A full update with its restore on a
// technician's terminal, and an interrupt during a transfer that the next run finishes. Everything
// else about these chains is proved on virtual time (tests/e2e_update).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "e2e_text.h"
#include "image_set.h"
#include "process/child_process.h"
#include "sim_child.h"
#include "temp_dir.h"

namespace zephor::update {
namespace {

using e2e::InOrder;
using e2e::ReadWhole;
using e2e::SimChild;

constexpr int kRunLimitMs = 120000;
constexpr int kPollMs = 50;
constexpr auto kSimLogPatience = std::chrono::seconds(60);
constexpr auto kSimLogPoll = std::chrono::milliseconds(5);
// After the header was accepted, long enough for the transfer to be under way.
constexpr auto kIntoTheTransfer = std::chrono::milliseconds(100);
constexpr int kSignalExitLimitMs = 20000;
constexpr int kExitInterrupt = 130;

// Runs zephor with args, standard output to outPath and standard error on a pseudo-terminal,
// as a technician's terminal shows it; returns the exit code and what the terminal got.
int RunOnTerminal(const std::vector<std::string>& args, const std::string& outPath,
                  std::string& terminal) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return -1;
  const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  process::ChildProcess child;
  std::string why;
  child.Start(ZEPHOR_CLI_PATH, args, process::ChildSetup::Lending(".", -1, out, slave), why);
  close(out);
  close(slave);
  // The limit is on the clock, not on a count of turns. Once the child has gone the master may
  // stay readable with nothing but an error to read, so every turn without text asks whether
  // the child ended.
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRunLimitMs);
  int code = -1;
  bool ended = false;
  char chunk[4096];
  while (!ended && std::chrono::steady_clock::now() < giveUp) {
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, kPollMs) > 0 && (p.revents & POLLIN) != 0) {
      const ssize_t got = read(master, chunk, sizeof chunk);
      if (got > 0) {
        terminal.append(chunk, static_cast<std::size_t>(got));
        continue;
      }
    }
    ended = child.Ended(code);
  }
  if (!ended) code = child.Finish(0);
  close(master);
  return code;
}

// Waits until the simulator's log holds text; false after the patience.
bool AwaitSimLog(const std::string& simLog, const std::string& text) {
  const auto giveUp = std::chrono::steady_clock::now() + kSimLogPatience;
  while (ReadWhole(simLog).find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() > giveUp) return false;
    std::this_thread::sleep_for(kSimLogPoll);
  }
  return true;
}

bool JournalLeft(const TempDir& dir) {
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    if (entry.path().filename().string().starts_with("ZEPHORrestore-")) return true;
  }
  return false;
}

// An outdated "QN" instrument: the special main, every program, READY, the download, the erase
// and the conversion on disk. On a terminal every transfer shows a live line and ends with a
// summary, each long wait counts down; the log on standard output is as before.
TEST(RealtimeUpdateTest, FullUpdateWithRestoreOnATerminal) {
  TempDir dir;
  script::WriteImageSet(dir, {"1.3", "1.3", "1.40", "7"});
  const std::string link = (dir.path() / "com1").string();
  const std::string state = (dir.path() / "state.txt").string();
  const std::string memory = (dir.path() / "memory.bin").string();
  SimChild sim({"--link",          link,        "--main",        "1.28",   "--boot",        "1.2",
                "--update",        "1.2",       "--build",       "5",      "--grade",       "QN",
                "--equipment",     "123456789", "--generate-db", "7:4000", "--ready-delay", "200",
                "--conversion-ms", "200",       "--nak-blocks",  "1",      "--state-out",   state,
                "--memory-out",    memory});
  ASSERT_EQ(sim.ready(), "ready " + link + "\n");
  const std::string original = ReadWhole(memory);

  const std::string log = (dir.path() / "log.txt").string();
  std::string terminal;
  EXPECT_EQ(
      RunOnTerminal({"update", link, "--yes", "--images", dir.path().string()}, log, terminal), 0);

  const std::string printed = ReadWhole(log);
  EXPECT_TRUE(InOrder(printed, {"\tLoad of special main Done\n", "\tLoad of new boot Done\n",
                                "\tUpdate main program Done\n", "\tUpdate finished.\n"}))
      << printed;
  EXPECT_EQ(printed.find("Update stopped"), std::string::npos);
  EXPECT_NE(terminal.find("Restart the ZEPHOR !!"), std::string::npos) << terminal;
  // The terminal turns each line feed into a carriage return and a line feed.
  EXPECT_TRUE(InOrder(terminal, {"\r\033[KWaiting for the loader's letter B: 3 min 20 s left",
                                 "\r\033[Kboot.bin: block 0 of 3, 0 %", "\r\033[Kboot.bin: block 1",
                                 "\r\033[Kboot.bin: 300 bytes in ", " B/s, 1 block sent again\r\n",
                                 "\r\033[Kmain.bin: 700 bytes in ",
                                 "\r\033[KWaiting for READY: ", "\r\033[KZEPHORdata.bin: "}))
      << terminal;

  const std::string summary = ReadWhole(state);
  EXPECT_NE(summary.find("boot=1.3\n"), std::string::npos) << summary;
  EXPECT_NE(summary.find("update=1.3\n"), std::string::npos);
  EXPECT_NE(summary.find("main=1.40\n"), std::string::npos);
  EXPECT_NE(summary.find("build=7\n"), std::string::npos);
  // "QN": the database was saved and converted, not written back; the memory is erased.
  EXPECT_NE(summary.find("memory_bytes=0\n"), std::string::npos);
  const std::string saved = ReadWhole(dir.path() / "ZEPHORdata.bin");
  EXPECT_TRUE(saved.size() >= original.size() && saved.compare(0, original.size(), original) == 0);
  EXPECT_GT(std::filesystem::file_size(dir.path() / "_Conversion.txt"), 0u);
  EXPECT_FALSE(JournalLeft(dir));
}

// Ctrl-C during the main image's transfer: the instrument hears the cancel sequence, nothing of
// the earlier backup changes and the exit code tells the interrupt; the next run finds the
// journal and finishes the update on the waiting loader.
TEST(RealtimeUpdateTest, InterruptDuringTheMainTransferThenTheNextRunFinishes) {
  TempDir dir;
  script::WriteImageSet(dir, {"1.2", "1.2", "1.35", "5"});
  // Long enough that the interrupt finds the transfer running.
  dir.Write("main.bin", script::ImageBytes({"main.bin", 100000, 'm'}, "1.35", "5"));
  const std::vector<std::uint8_t> backup(3000, 0x5A);
  dir.Write("ZEPHORdata.bin", backup);
  const std::string simLog = (dir.path() / "sim.txt").string();
  const std::string link = (dir.path() / "com1").string();
  const std::string state = (dir.path() / "state.txt").string();
  SimChild sim({"--link", link, "--main", "1.32", "--boot", "1.2", "--update", "1.2", "--grade",
                "QN", "--equipment", "42", "--state-out", state},
               simLog);
  ASSERT_NE(sim.ready(), "");
  const std::vector<std::string> update{"update", link, "--yes", "--images", dir.path().string()};

  process::ChildProcess cli;
  std::string why;
  ASSERT_TRUE(
      cli.Start(ZEPHOR_CLI_PATH, update, process::ChildSetup::Lending(dir.path(), -1, -1, -1), why))
      << why;
  ASSERT_TRUE(AwaitSimLog(simLog, "header accepted"));
  std::this_thread::sleep_for(kIntoTheTransfer);
  cli.Signal(SIGINT);
  EXPECT_EQ(cli.Finish(kSignalExitLimitMs), kExitInterrupt);

  EXPECT_NE(ReadWhole(simLog).find("receive cancelled: the sender sent two CAN"), std::string::npos)
      << ReadWhole(simLog);
  EXPECT_EQ(ReadWhole(dir.path() / "ZEPHORdata.bin"), std::string(backup.begin(), backup.end()));
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    EXPECT_NE(entry.path().extension(), ".part") << entry.path();
  }
  EXPECT_TRUE(JournalLeft(dir));

  const std::string log = (dir.path() / "second.txt").string();
  const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  process::ChildProcess second;
  second.Start(ZEPHOR_CLI_PATH, update, process::ChildSetup::Lending(dir.path(), -1, out, out),
               why);
  close(out);
  EXPECT_EQ(second.Finish(kRunLimitMs), 0) << ReadWhole(log);
  EXPECT_NE(ReadWhole(log).find("The update of ZEPHOR 000000042 stopped after"), std::string::npos)
      << ReadWhole(log);
  EXPECT_NE(ReadWhole(state).find("main=1.35\n"), std::string::npos) << ReadWhole(state);
  EXPECT_FALSE(JournalLeft(dir));
}

}  // namespace
}  // namespace zephor::update
