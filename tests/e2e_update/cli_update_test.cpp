// The command line as a process: how each subcommand ends (its exit code and what it prints) and
// the trace it writes, against zephor-sim on a pseudo-terminal or no device at all. What the
// update and restore chains do is proved on virtual time (update_chain_test.cpp), across the
// process boundary in real time in tests/realtime.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "app/preset_answers.h"
#include "e2e_text.h"
#include "image_set.h"
#include "sim_child.h"
#include "temp_dir.h"

namespace zephor::update {
namespace {

using e2e::InOrder;
using e2e::ReadWhole;
using e2e::SimChild;

struct CliRun {
  int code = -1;
  std::string printed;  // standard output and error together
};

// `zephor ARGUMENTS` with the environment's assignments before it and input on standard input.
CliRun RunZephor(const TempDir& dir, const std::string& arguments,
                 const std::string& environment = "", const std::string& input = "") {
  const std::string log = (dir.path() / "cli.txt").string();
  const std::string inputFile = (dir.path() / "input.txt").string();
  dir.Write("input.txt", std::vector<std::uint8_t>(input.begin(), input.end()));
  const std::string command = environment + " " + std::string(ZEPHOR_CLI_PATH) + " " + arguments +
                              " > " + log + " 2>&1 < " + inputFile;
  const int status = std::system(command.c_str());
  CliRun run;
  if (WIFEXITED(status)) run.code = WEXITSTATUS(status);
  run.printed = ReadWhole(log);
  return run;
}

// An instrument on main 1.28 with surveys, of grade "QN" unless the faults name another, with
// faults added.
std::vector<std::string> Instrument(const TempDir& dir, const std::vector<std::string>& faults) {
  std::vector<std::string> args{"--link",        (dir.path() / "com1").string(),
                                "--main",        "1.28",
                                "--equipment",   "123456789",
                                "--generate-db", "7:4000"};
  if (std::find(faults.begin(), faults.end(), "--grade") == faults.end()) {
    args.insert(args.end(), {"--grade", "QN"});
  }
  args.insert(args.end(), faults.begin(), faults.end());
  return args;
}

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
  bool images = false;                       // a set of images in DIR, main 1.40
  std::string input = "";                    // on standard input
};

void PrintTo(const ExitCase& row, std::ostream* out) { *out << row.name; }

class CliExitCodeTest : public ::testing::TestWithParam<ExitCase> {};

TEST_P(CliExitCodeTest, TellsHowTheCommandEnded) {
  const ExitCase& c = GetParam();
  TempDir dir;
  const std::string link = (dir.path() / "com1").string();
  std::unique_ptr<SimChild> sim;
  if (!c.sim.empty()) {
    sim = std::make_unique<SimChild>(Instrument(dir, c.sim));
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
  if (c.images) script::WriteImageSet(dir, {"1.2", "1.3", "1.40", "230"});
  const CliRun run = RunZephor(dir, filled(c.arguments), filled(c.environment), c.input);
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
        // The erase code garbled on the line: the instrument answers "?" and keeps its memory.
        ExitCase{"EraseThatDoesNotTake",
                 {"--misread-erases", "1"},
                 "erase LINK --yes",
                 5,
                 "The ZEPHOR did not erase its memory: its surveys are kept and nothing more is "
                 "done.",
                 {},
                 "cd DIR &&"},
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
        // A watcher's reply longer than any answer costs no more memory than an answer: it is
        // Cancel, and said.
        ExitCase{"EventsReplyLongerThanAnAnswer",
                 {"--fault", "none", "--grade", "QH"},
                 "update LINK --events --images DIR",
                 1,
                 app::kReplyTooLongText,
                 {},
                 "",
                 {},
                 true,
                 std::string(2 * app::kReplyLineLimit, 'o') + "\nok\n"},
        ExitCase{"ConversionIntoAMissingFolder",
                 {},
                 "db convert DIR/empty.bin --out DIR/none",
                 2,
                 "cannot write to DIR/none: no such folder",
                 {},
                 "",
                 {"empty.bin"}}),
    [](const ::testing::TestParamInfo<ExitCase>& info) { return info.param.name; });

}  // namespace
}  // namespace zephor::update
