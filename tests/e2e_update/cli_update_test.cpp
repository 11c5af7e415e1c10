// End to end: `zephor update` loads every image into zephor-sim over a pseudo-terminal, and the
// simulator reports the versions it now runs.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

// `zephor SUBCOMMAND PORT --images DIR` with further options; nothing comes on standard input.
CliRun RunCli(const TempDir& dir, const std::string& subcommand, const std::string& link,
              const std::string& options) {
  const std::string log = (dir.path() / "cli.txt").string();
  const std::string command = std::string(ZEPHOR_CLI_PATH) + " " + subcommand + " " + link +
                              " --images " + dir.path().string() + " " + options + " > " + log +
                              " 2>&1 < /dev/null";
  const int status = std::system(command.c_str());
  CliRun run;
  if (WIFEXITED(status)) run.code = WEXITSTATUS(status);
  run.printed = ReadWhole(log);
  return run;
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

TEST(CliUpdateTest, FullUpdateLeavesTheNewVersionsInTheSimulator) {
  TempDir dir;
  script::WriteImageSet(dir, {"1.3", "1.3", "1.32", "9"});
  const std::string link = (dir.path() / "com1").string();
  const std::string state = (dir.path() / "state.txt").string();
  SimChild sim({"--link", link, "--main", "1.31", "--boot", "1.2", "--update", "1.2", "--build",
                "5", "--grade", "QN", "--ready-delay", "200", "--state-out", state});
  ASSERT_EQ(sim.ready(), "ready " + link + "\n");

  const std::string log = (dir.path() / "log.txt").string();
  const std::string command = std::string(ZEPHOR_CLI_PATH) + " update " + link +
                              " --yes --images " + dir.path().string() + " > " + log +
                              " 2>&1 < /dev/null";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  const std::string printed = ReadWhole(log);
  EXPECT_NE(printed.find("\tLoad of new boot Done\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("\tUpdate finished.\n"), std::string::npos);
  EXPECT_NE(printed.find("Restart the ZEPHOR !!"), std::string::npos);
  EXPECT_EQ(printed.find("Update stopped"), std::string::npos);

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

// The port listing, and a port that cannot be opened: the device tried and why, then exit 3.
struct PortCase {
  const char* name;
  const char* environment;  // variables set for the run
  const char* args;
  int exitCode;
  const char* message;
};

class CliPortTest : public ::testing::TestWithParam<PortCase> {};

TEST_P(CliPortTest, ExitCodeAndWords) {
  const PortCase& c = GetParam();
  TempDir dir;
  const std::string log = (dir.path() / "cli.txt").string();
  const std::string command = std::string(c.environment) + " " + ZEPHOR_CLI_PATH + " " + c.args +
                              " > " + log + " 2>&1 < /dev/null";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  const std::string printed = ReadWhole(log);
  EXPECT_EQ(WEXITSTATUS(status), c.exitCode) << printed;
  EXPECT_NE(printed.find(c.message), std::string::npos) << printed;
}

INSTANTIATE_TEST_SUITE_P(
    Table, CliPortTest,
    ::testing::Values(PortCase{"PortsListed", "", "ports", 0, ""},
                      PortCase{"PortsAsJson", "", "ports --json", 0, "["},
                      PortCase{"MissingDevice", "", "update /nonexistent/zephor-tty --yes", 3,
                               "COM1 is /nonexistent/zephor-tty: no such device (status -14)"},
                      PortCase{"MissingDeviceOfCom5", "ZEPHOR_COM5=/nonexistent/zephor-com5",
                               "update COM5 --yes", 3,
                               "COM5 is /nonexistent/zephor-com5: no such device (status -14)"}),
    [](const ::testing::TestParamInfo<PortCase>& info) { return info.param.name; });

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
  if (c.erased) {
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
