// End to end: `zephor update` loads every image into zephor-sim over a pseudo-terminal, and the
// simulator reports the versions it now runs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "child_process.h"
#include "image_set.h"
#include "sim_child.h"
#include "temp_dir.h"

namespace zephor::update {
namespace {

using e2e::ReadWhole;
using e2e::SimChild;

struct CliRun {
  int code = -1;
  std::string printed;  // standard output and error together
};

// `zephor ARGUMENTS` with the environment's assignments before it; nothing comes on standard
// input.
CliRun RunZephor(const TempDir& dir, const std::string& arguments,
                 const std::string& environment = "") {
  const std::string log = (dir.path() / "cli.txt").string();
  const std::string command = environment + " " + std::string(ZEPHOR_CLI_PATH) + " " + arguments +
                              " > " + log + " 2>&1 < /dev/null";
  const int status = std::system(command.c_str());
  CliRun run;
  if (WIFEXITED(status)) run.code = WEXITSTATUS(status);
  run.printed = ReadWhole(log);
  return run;
}

// `zephor SUBCOMMAND PORT --images DIR` with further options.
CliRun RunCli(const TempDir& dir, const std::string& subcommand, const std::string& link,
              const std::string& options) {
  return RunZephor(dir,
                   subcommand + " " + link + " --images " + dir.path().string() + " " + options);
}

CliRun RunUpdate(const TempDir& dir, const std::string& link, const std::string& options) {
  return RunCli(dir, "update", link, options);
}

// Waits until the simulator's log holds text; false after the limit.
bool AwaitSimLog(const std::string& simLog, const std::string& text,
                 std::chrono::seconds limit = std::chrono::seconds(60)) {
  const auto giveUp = std::chrono::steady_clock::now() + limit;
  while (ReadWhole(simLog).find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() > giveUp) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

std::size_t CountOf(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

// True when the parts stand in text in the order given.
bool InOrder(const std::string& text, const std::vector<std::string>& parts) {
  std::size_t at = 0;
  for (const std::string& part : parts) {
    at = text.find(part, at);
    if (at == std::string::npos) return false;
    at += part.size();
  }
  return true;
}

bool JournalLeft(const TempDir& dir) {
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    if (entry.path().filename().string().starts_with("ZEPHORrestore-")) return true;
  }
  return false;
}

// An outdated grade "QN" instrument on main 1.28 with surveys: the full sequence with the special
// main, then the database restore.
std::vector<std::string> OldQnInstrument(const TempDir& dir, std::vector<std::string> extra = {}) {
  std::vector<std::string> args{"--link",          (dir.path() / "com1").string(),
                                "--main",          "1.28",
                                "--boot",          "1.2",
                                "--update",        "1.2",
                                "--build",         "5",
                                "--grade",         "QN",
                                "--equipment",     "123456789",
                                "--generate-db",   "7:4000",
                                "--ready-delay",   "200",
                                "--conversion-ms", "200",
                                "--state-out",     (dir.path() / "state.txt").string(),
                                "--memory-out",    (dir.path() / "memory.bin").string()};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

// Runs zephor with args, standard output to outPath and standard error on a pseudo-terminal,
// as a technician's terminal shows it; returns the exit code and what the terminal got.
int RunOnTerminal(const std::vector<std::string>& args, const std::string& outPath,
                  std::string& terminal) {
  constexpr int kLimitMs = 120000;
  constexpr int kPollMs = 50;
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return -1;
  const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const pid_t child =
      transfer::StartChild(ZEPHOR_CLI_PATH, args, ".", transfer::ChildIo{-1, out, slave});
  close(out);
  close(slave);
  int code = -1;
  char chunk[4096];
  for (int waited = 0; waited < kLimitMs; waited += kPollMs) {
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, kPollMs) > 0 && (p.revents & POLLIN) != 0) {
      const ssize_t got = read(master, chunk, sizeof chunk);
      if (got > 0) terminal.append(chunk, static_cast<std::size_t>(got));
      continue;
    }
    if (transfer::ChildEnded(child, &code)) break;
  }
  close(master);
  return code;
}

// On a terminal every transfer shows a live line and ends with a summary, and the wait for the
// loader's letter counts down; the log on standard output is as before.
TEST(CliUpdateTest, FullUpdateLeavesTheNewVersionsInTheSimulator) {
  TempDir dir;
  script::WriteImageSet(dir, {"1.3", "1.3", "1.32", "9"});
  const std::string link = (dir.path() / "com1").string();
  const std::string state = (dir.path() / "state.txt").string();
  SimChild sim({"--link", link, "--main", "1.31", "--boot", "1.2", "--update", "1.2", "--build",
                "5", "--grade", "QN", "--ready-delay", "200", "--state-out", state, "--nak-blocks",
                "1"});
  ASSERT_EQ(sim.ready(), "ready " + link + "\n");

  const std::string log = (dir.path() / "log.txt").string();
  std::string terminal;
  EXPECT_EQ(
      RunOnTerminal({"update", link, "--yes", "--images", dir.path().string()}, log, terminal), 0);

  const std::string printed = ReadWhole(log);
  EXPECT_NE(printed.find("\tLoad of new boot Done\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("\tUpdate finished.\n"), std::string::npos);
  EXPECT_EQ(printed.find("Update stopped"), std::string::npos);
  EXPECT_NE(terminal.find("Restart the ZEPHOR !!"), std::string::npos) << terminal;
  // The terminal turns each line feed into a carriage return and a line feed.
  EXPECT_TRUE(InOrder(terminal, {"\r\033[KWaiting for the loader's letter B: 3 min 20 s left",
                                 "\r\033[Kboot.bin: block 0 of 3, 0 %", "\r\033[Kboot.bin: block 1",
                                 "\r\033[Kboot.bin: 300 bytes in ", " B/s, 1 block sent again\r\n",
                                 "\r\033[Kmain.bin: 700 bytes in "}))
      << terminal;

  const std::string summary = ReadWhole(state);
  EXPECT_NE(summary.find("boot=1.3\n"), std::string::npos) << summary;
  EXPECT_NE(summary.find("update=1.3\n"), std::string::npos);
  EXPECT_NE(summary.find("main=1.32\n"), std::string::npos);
  EXPECT_NE(summary.find("build=9\n"), std::string::npos);
}

TEST(CliUpdateTest, CancelOfTheV140WarningEndsWithCodeOneAndLoadsNothing) {
  TempDir dir;
  script::WriteImageSet(dir, {"1.2", "1.2", "1.40", "5"});
  const std::string link = (dir.path() / "com1").string();
  const std::string state = (dir.path() / "state.txt").string();
  SimChild sim({"--link", link, "--main", "1.31", "--grade", "Q", "--state-out", state});
  ASSERT_EQ(sim.ready(), "ready " + link + "\n");
  const std::string command = std::string(ZEPHOR_CLI_PATH) + " update " + link + " --no --images " +
                              dir.path().string() + " > /dev/null 2>&1 < /dev/null";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_NE(ReadWhole(state).find("main=1.31\n"), std::string::npos);
}

// A bad image of the plan stops the run before the simulator hears a banner or a header.
struct BadImageCase {
  const char* name;
  const char* image;
  enum { kEmpty, kMissing, kDirectory } fault;
  int exitCode;
  const char* message;
};

class CliBadImageTest : public ::testing::TestWithParam<BadImageCase> {};

TEST_P(CliBadImageTest, NothingReachesTheInstrument) {
  const BadImageCase& c = GetParam();
  TempDir dir;
  script::WriteImageSet(dir, {"1.3", "1.3", "1.40", "7"});
  const std::filesystem::path image = dir.path() / c.image;
  std::filesystem::remove(image);
  if (c.fault == BadImageCase::kEmpty) dir.Write(c.image, {});
  if (c.fault == BadImageCase::kDirectory) std::filesystem::create_directory(image);
  const std::string simLog = (dir.path() / "sim.txt").string();
  SimChild sim(OldQnInstrument(dir), simLog);
  ASSERT_NE(sim.ready(), "");

  const CliRun run = RunUpdate(dir, (dir.path() / "com1").string(), "--yes");
  EXPECT_EQ(run.code, c.exitCode) << run.printed;
  EXPECT_NE(run.printed.find(c.message), std::string::npos) << run.printed;
  EXPECT_EQ(run.printed.find("in progress"), std::string::npos) << run.printed;
  const std::string heard = ReadWhole(simLog);
  EXPECT_EQ(heard.find("banner"), std::string::npos) << heard;
  EXPECT_EQ(heard.find("header"), std::string::npos) << heard;
  EXPECT_EQ(heard.find("erased"), std::string::npos) << heard;
  EXPECT_FALSE(JournalLeft(dir));
}

INSTANTIATE_TEST_SUITE_P(
    Table, CliBadImageTest,
    ::testing::Values(BadImageCase{"EmptyBoot", "boot.bin", BadImageCase::kEmpty, 4,
                                   "Image file boot.bin is empty"},
                      BadImageCase{"MissingSpecialMain", "main1p29.bin", BadImageCase::kMissing, 1,
                                   "Can't open file main1p29.bin"},
                      BadImageCase{"EmptySpecialMain", "main1p29.bin", BadImageCase::kEmpty, 4,
                                   "Image file main1p29.bin is empty"},
                      BadImageCase{"DirectoryNamedMain", "main.bin", BadImageCase::kDirectory, 1,
                                   "Can't open file main.bin"}),
    [](const ::testing::TestParamInfo<BadImageCase>& info) { return info.param.name; });

// The loader waits for its boot program after a run stopped past the newboot; the next run serves
// it, finds the record of the stopped run and finishes the update with its special main and its
// restore.
TEST(CliUpdateTest, RunStoppedAfterTheNewbootIsFinishedByTheNextOne) {
  TempDir dir;
  script::WriteImageSet(dir, {"1.3", "1.3", "1.40", "7"});
  const std::string simLog = (dir.path() / "sim.txt").string();
  // The boot image's header is the second the loader reads.
  SimChild sim(OldQnInstrument(dir, {"--refuse-header", "2"}), simLog);
  ASSERT_NE(sim.ready(), "");
  const std::string link = (dir.path() / "com1").string();
  const std::string original = ReadWhole(dir.path() / "memory.bin");

  const CliRun first = RunUpdate(dir, link, "--yes");
  EXPECT_EQ(first.code, 4) << first.printed;
  EXPECT_TRUE(InOrder(first.printed, {"\tLoad of special main Done\n",
                                      "\tLoad of new boot in progress...\n", "Update stopped !!"}))
      << first.printed;
  EXPECT_TRUE(JournalLeft(dir));

  const CliRun second = RunUpdate(dir, link, "--yes");
  EXPECT_EQ(second.code, 0) << second.printed;
  EXPECT_NE(second.printed.find("The update of ZEPHOR 123456789 stopped after newboot.bin. "
                                "Finish it on this instrument?"),
            std::string::npos)
      << second.printed;
  EXPECT_EQ(CountOf(second.printed, "\tLoad of special main in progress...\n"), 1U);
  EXPECT_TRUE(
      InOrder(ReadWhole(simLog),
              {"loaded newboot image", "header refused", "loaded boot image", "loaded update image",
               "loaded special main image", "loaded main image", "download of", "memory erased"}))
      << ReadWhole(simLog);
  EXPECT_TRUE(InOrder(second.printed, {"\tUpdate finished.\n", "Restart the ZEPHOR !!"}));
  const std::string summary = ReadWhole(dir.path() / "state.txt");
  EXPECT_NE(summary.find("boot=1.3\n"), std::string::npos) << summary;
  EXPECT_NE(summary.find("main=1.40\n"), std::string::npos) << summary;
  // The saved copy is the memory as it was, padded to whole blocks.
  const std::string saved = ReadWhole(dir.path() / "ZEPHORdata.bin");
  EXPECT_TRUE(saved.size() >= original.size() && saved.compare(0, original.size(), original) == 0);
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "_Conversion.txt"));
  EXPECT_FALSE(JournalLeft(dir));
}

// Ctrl-C during the main image's transfer: the instrument hears the cancel sequence, nothing of
// the earlier backup changes and the exit code tells the interrupt.
TEST(CliUpdateTest, InterruptDuringTheMainTransferCancelsItAndKeepsTheBackup) {
  TempDir dir;
  script::WriteImageSet(dir, {"1.2", "1.2", "1.35", "5"});
  // Long enough that the interrupt finds the transfer running.
  dir.Write("main.bin", script::ImageBytes({"main.bin", 400000, 'm'}, "1.35", "5"));
  const std::vector<std::uint8_t> backup(3000, 0x5A);
  dir.Write("ZEPHORdata.bin", backup);
  const std::string simLog = (dir.path() / "sim.txt").string();
  const std::string link = (dir.path() / "com1").string();
  SimChild sim({"--link", link, "--main", "1.32", "--boot", "1.2", "--update", "1.2", "--grade",
                "QN", "--equipment", "42"},
               simLog);
  ASSERT_NE(sim.ready(), "");

  const pid_t cli = transfer::StartChild(
      ZEPHOR_CLI_PATH, {"update", link, "--yes", "--images", dir.path().string()}, dir.path(), {});
  ASSERT_GT(cli, 0);
  ASSERT_TRUE(AwaitSimLog(simLog, "header accepted"));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  kill(cli, SIGINT);
  EXPECT_EQ(transfer::FinishChild(cli, 20000), 130);

  EXPECT_NE(ReadWhole(simLog).find("receive cancelled: the sender sent two CAN"), std::string::npos)
      << ReadWhole(simLog);
  EXPECT_EQ(ReadWhole(dir.path() / "ZEPHORdata.bin"), std::string(backup.begin(), backup.end()));
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    EXPECT_NE(entry.path().extension(), ".part") << entry.path();
  }
  EXPECT_TRUE(JournalLeft(dir));
}

// A "QH" instrument on main 1.28 is erased before its old main is replaced: only after its
// surveys were saved under a dated name; when they cannot be saved, --yes does not erase.
struct QhEraseCase {
  const char* name;
  std::vector<std::string> faults;
  int exitCode;
  bool erased;
};

class CliQhEraseTest : public ::testing::TestWithParam<QhEraseCase> {};

TEST_P(CliQhEraseTest, ErasesOnlyAfterADatedBackup) {
  const QhEraseCase& c = GetParam();
  TempDir dir;
  script::WriteImageSet(dir, {"1.3", "1.3", "1.40", "7"});
  const std::string simLog = (dir.path() / "sim.txt").string();
  std::vector<std::string> args = OldQnInstrument(dir, c.faults);
  *std::find(args.begin(), args.end(), "QN") = "QH";
  SimChild sim(args, simLog);
  ASSERT_NE(sim.ready(), "");
  const std::string original = ReadWhole(dir.path() / "memory.bin");

  const CliRun run = RunUpdate(dir, (dir.path() / "com1").string(), "--yes");
  EXPECT_EQ(run.code, c.exitCode) << run.printed;
  EXPECT_EQ(ReadWhole(simLog).find("memory erased") != std::string::npos, c.erased);
  std::vector<std::filesystem::path> dated;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    if (entry.path().filename().string().starts_with("ZEPHORdata-123456789-")) {
      dated.push_back(entry.path());
    }
  }
  // Not a terminal: a summary line per transfer, nothing redrawn.
  EXPECT_EQ(run.printed.find("\033[K"), std::string::npos);
  if (c.erased) {
    EXPECT_NE(run.printed.find(" bytes received in "), std::string::npos) << run.printed;
    ASSERT_EQ(dated.size(), 1U) << run.printed;
    const std::string saved = ReadWhole(dated.front());
    EXPECT_TRUE(saved.size() >= original.size() &&
                saved.compare(0, original.size(), original) == 0);
    EXPECT_NE(run.printed.find("\tBackup kept as " + dated.front().filename().string()),
              std::string::npos)
        << run.printed;
  } else {
    EXPECT_TRUE(dated.empty());
    EXPECT_EQ(ReadWhole(dir.path() / "memory.bin"), original);
    EXPECT_NE(run.printed.find("No backup of the measurements could be saved. Erase anyway?"),
              std::string::npos)
        << run.printed;
    EXPECT_EQ(ReadWhole(simLog).find("header"), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, CliQhEraseTest,
    ::testing::Values(QhEraseCase{"SavedThenErased", {}, 0, true},
                      QhEraseCase{
                          "DownloadCancelledNothingErased", {"--cancel-at-block", "1"}, 1, false}),
    [](const ::testing::TestParamInfo<QhEraseCase>& info) { return info.param.name; });

// Every other subcommand's exit code, and the trace of the line it wrote when asked.
struct ExitCase {
  const char* name;
  std::vector<std::string> sim;  // the simulator's faults; empty: no simulator at LINK
  std::string arguments;  // LINK and DIR stand for the line and the scratch folder, here and below
  int exitCode;
  const char* printed;
  std::vector<std::string> trace;            // in order in DIR/trace.txt
  const char* environment = "";              // assignments for the run
  std::vector<std::string> emptyFiles = {};  // made in DIR before the run
};

class CliExitCodeTest : public ::testing::TestWithParam<ExitCase> {};

TEST_P(CliExitCodeTest, TellsHowTheCommandEnded) {
  const ExitCase& c = GetParam();
  TempDir dir;
  const std::string link = (dir.path() / "com1").string();
  std::unique_ptr<SimChild> sim;
  if (!c.sim.empty()) {
    std::vector<std::string> args = OldQnInstrument(dir);
    args.insert(args.end(), c.sim.begin(), c.sim.end());
    sim = std::make_unique<SimChild>(args);
    ASSERT_NE(sim->ready(), "");
  }
  const auto filled = [&](std::string text) {
    for (const auto& [mark, value] : {std::pair<std::string, std::string>{"LINK", link},
                                      std::pair<std::string, std::string>{"DIR", dir.path()}}) {
      for (auto at = text.find(mark); at != std::string::npos; at = text.find(mark)) {
        text.replace(at, mark.size(), value);
      }
    }
    return text;
  };
  for (const std::string& name : c.emptyFiles) dir.Write(name, {});
  const CliRun run = RunZephor(dir, filled(c.arguments), filled(c.environment));
  EXPECT_EQ(run.code, c.exitCode) << run.printed;
  EXPECT_NE(run.printed.find(filled(c.printed)), std::string::npos) << run.printed;
  if (!c.trace.empty()) {
    const std::string trace = ReadWhole(dir.path() / "trace.txt");
    EXPECT_TRUE(InOrder(trace, c.trace)) << trace;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, CliExitCodeTest,
    ::testing::Values(
        ExitCase{"InfoAsJsonWithItsTrace",
                 {"--fault", "none"},
                 "info LINK --json --trace DIR/trace.txt",
                 0,
                 "\"equipmentNumber\": 123456789",
                 {"- open COM1", ": status 0\n", "> 55 4E 4C 4F 43 4B 0A ", "|UNLOCK\\n|\n",
                  "< 4F 4B", "> 73 79 73 74 65 6D 0A ", "|system\\n|\n", "< ", "MAIN Version",
                  "> 4C 4F 43 4B 0A ", "|LOCK\\n|\n", "- close COM1"}},
        ExitCase{"InfoWithoutInstrument", {}, "info DIR/none", 3, "No ZEPHOR connected", {}},
        ExitCase{"InfoOfASilentInstrument",
                 {"--fault", "silent"},
                 "info LINK",
                 3,
                 "No ZEPHOR connected",
                 {}},
        ExitCase{"PortDumpOfAMissingDevice", {}, "port-dump DIR/none", 3, "Open status: -", {}},
        ExitCase{"UpdateOnAMissingDevice",
                 {},
                 "update DIR/none --yes",
                 3,
                 "none: no such device (status -14)",
                 {}},
        ExitCase{"UpdateOnAMissingDeviceOfCom5",
                 {},
                 "update COM5 --yes",
                 3,
                 "COM5 is DIR/com5: no such device (status -14)",
                 {},
                 "ZEPHOR_COM5=DIR/com5"},
        ExitCase{"PortsListed", {}, "ports", 0, "", {}},
        ExitCase{"PortsAsJson", {}, "ports --json", 0, "[", {}},
        ExitCase{"TraceThatCannotBeWritten",
                 {"--fault", "none"},
                 "info LINK --trace DIR/no/such/trace.txt",
                 2,
                 "cannot write the trace",
                 {}},
        ExitCase{"RestoreWithNothingLeftOpen",
                 {"--fault", "none"},
                 "restore LINK --yes --images DIR",
                 0,
                 "No unfinished database restore",
                 {}},
        ExitCase{"EraseNotConfirmed",
                 {"--fault", "none"},
                 "erase LINK",
                 1,
                 "Erase all measurements stored in the ZEPHOR?",
                 {}},
        ExitCase{"TraceToAFullDisk",
                 {"--fault", "none"},
                 "info LINK --trace /dev/full",
                 2,
                 "cannot write the trace /dev/full: the disk is full",
                 {}},
        ExitCase{"PortBelowCom1", {}, "info COM0", 2, "cannot use port COM0: give COM1 to", {}},
        ExitCase{"PortAboveCom256", {}, "info COM257", 2, "cannot use port COM257", {}},
        ExitCase{"NegativePort", {}, "info COM-1", 2, "cannot use port COM-1", {}},
        // A file that is no whole database is still written from, as the restore does, but said.
        ExitCase{"ReportOfAnEmptyFile",
                 {},
                 "db report DIR/empty.bin --out DIR",
                 0,
                 "empty.bin is not a whole saved database: 0 surveys, no end-of-data byte",
                 {},
                 "",
                 {"empty.bin"}},
        ExitCase{"ConversionIntoAMissingFolder",
                 {},
                 "db convert DIR/empty.bin --out DIR/none",
                 2,
                 "cannot write to DIR/none: no such folder",
                 {},
                 "",
                 {"empty.bin"}}),
    [](const ::testing::TestParamInfo<ExitCase>& info) { return info.param.name; });

// A "QH" instrument on main 1.31 gets main 1.40 and its database back; whatever interrupts the
// restore, a second run finishes it from its journal: the memory ends as the conversion of what it
// held, and the journal is gone.
struct InterruptionCase {
  const char* name;
  const char* grade;  // "QH" gets its database back; "QN" only the conversion on disk
  std::vector<std::string> faults;
  const char* interruptAfter;  // the simulator's log line after which SIGINT comes; none when null
  const char* second;          // the command that finishes it
};

class CliRestoreResumeTest : public ::testing::TestWithParam<InterruptionCase> {};

TEST_P(CliRestoreResumeTest, TheNextRunFinishesTheRestore) {
  const InterruptionCase& c = GetParam();
  TempDir dir;
  script::WriteImageSet(dir, {"1.3", "1.3", "1.40", "7"});
  const std::string simLog = (dir.path() / "sim.txt").string();
  const std::string link = (dir.path() / "com1").string();
  std::vector<std::string> args{"--link",        link,
                                "--main",        "1.31",
                                "--boot",        "1.3",
                                "--update",      "1.3",
                                "--grade",       "QH",
                                "--equipment",   "77",
                                "--generate-db", "5:3000",
                                "--ready-delay", "200",
                                "--memory-out",  (dir.path() / "memory.bin").string()};
  args.insert(args.end(), c.faults.begin(), c.faults.end());
  SimChild sim(args, simLog);
  ASSERT_NE(sim.ready(), "");
  const std::string original = ReadWhole(dir.path() / "memory.bin");
  const bool unwritable = std::string(c.name) == "FolderNotWritable";
  // A folder where the saved database would be written: nothing can be saved there.
  if (unwritable) std::filesystem::create_directory(dir.path() / "ZEPHORdata.bin.part");

  int firstCode = -1;
  if (c.interruptAfter == nullptr) {
    firstCode = RunUpdate(dir, link, "--yes").code;
  } else {
    const pid_t cli = transfer::StartChild(
        ZEPHOR_CLI_PATH, {"update", link, "--yes", "--images", dir.path().string()}, dir.path(),
        {});
    ASSERT_GT(cli, 0);
    EXPECT_TRUE(AwaitSimLog(simLog, c.interruptAfter));
    kill(cli, SIGINT);
    firstCode = transfer::FinishChild(cli, 60000);
  }
  EXPECT_EQ(firstCode, c.interruptAfter == nullptr ? 5 : 130);
  EXPECT_TRUE(JournalLeft(dir));
  if (unwritable) std::filesystem::remove(dir.path() / "ZEPHORdata.bin.part");

  const CliRun second = RunCli(dir, c.second, link, "--yes");
  EXPECT_EQ(second.code, 0) << second.printed;
  EXPECT_NE(second.printed.find("The database restore of this ZEPHOR did not finish ("),
            std::string::npos)
      << second.printed;
  EXPECT_FALSE(JournalLeft(dir));

  // The conversion of the original memory, made apart from the run.
  const std::filesystem::path apart = dir.path() / "apart";
  std::filesystem::create_directory(apart);
  const std::string originalFile = (apart / "original.bin").string();
  {
    std::ofstream out(originalFile, std::ios::binary);
    out << original;
  }
  const std::string convert = std::string(ZEPHOR_CLI_PATH) + " db convert " + originalFile +
                              " --out " + apart.string() + " > /dev/null 2>&1";
  ASSERT_EQ(std::system(convert.c_str()), 0);
  const std::string expected = ReadWhole(apart / "_Conversion.txt");
  ASSERT_FALSE(expected.empty());
  const bool writtenBack = std::string(c.grade) == "QH";
  EXPECT_TRUE(ReadWhole(dir.path() / (writtenBack ? "memory.bin" : "_Conversion.txt")) == expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CliRestoreResumeTest,
    ::testing::Values(
        InterruptionCase{"DownloadCancelled", "QH", {"--cancel-downloads", "1"}, nullptr, "update"},
        InterruptionCase{"ReadyNeverComes",
                         "QH",
                         {"--fault", "never-ready"},
                         "restarted (fault: no READY)",
                         "restore"},
        InterruptionCase{"InterruptAfterTheErase", "QH", {}, "memory erased", "update"},
        InterruptionCase{"WriteBackCancelled", "QH", {"--cancel-uploads", "1"}, nullptr, "restore"},
        InterruptionCase{"FolderNotWritable", "QH", {}, nullptr, "update"},
        InterruptionCase{"GradeQnInterruptAfterTheErase", "QN", {}, "memory erased", "restore"}),
    [](const ::testing::TestParamInfo<InterruptionCase>& info) { return info.param.name; });

}  // namespace
}  // namespace zephor::update
