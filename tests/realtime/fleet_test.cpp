// zephor fleet against several zephor-sim instruments at once, in real time: each instrument in
// a folder of its own, one report, the worst exit code; one number on two ports refused before
// anything is loaded; an interrupt stops every instrument through its clean-up.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "image_set.h"
#include "sim_child.h"
#include "temp_dir.h"

namespace zephor::update {
namespace {

using e2e::ReadWhole;
using e2e::SimChild;
using json = nlohmann::json;

// One instrument of a fleet and what must come of it.
struct Member {
  const char* link;              // its port, in the scratch folder
  int equipment;                 // the number its folder is named by
  std::vector<std::string> sim;  // the simulator's state and faults
  int exitCode;
  std::vector<std::string> kept;  // files its folder must hold afterwards
};

std::string Number(int equipment) {
  char text[16];
  std::snprintf(text, sizeof text, "%09d", equipment);
  return text;
}

std::filesystem::path FolderOf(const TempDir& dir, const Member& m) {
  return dir.path() / "out" / ("ZEPHOR-" + Number(m.equipment));
}

// The simulators, each with its log and its memory as it was before the fleet.
struct Sims {
  std::vector<std::unique_ptr<SimChild>> children;
  std::vector<std::string> memories;
};

Sims StartSims(const TempDir& dir, const std::vector<Member>& members) {
  Sims sims;
  for (const Member& m : members) {
    const std::string base = (dir.path() / m.link).string();
    std::vector<std::string> args{
        "--link", base, "--equipment", std::to_string(m.equipment), "--memory-out", base + ".mem"};
    args.insert(args.end(), m.sim.begin(), m.sim.end());
    sims.children.push_back(std::make_unique<SimChild>(args, base + ".log"));
    EXPECT_NE(sims.children.back()->ready(), "") << m.link;
    sims.memories.push_back(ReadWhole(base + ".mem"));
  }
  return sims;
}

std::vector<std::string> FleetArguments(const TempDir& dir, const std::vector<Member>& members,
                                        std::vector<std::string> options) {
  std::vector<std::string> args{"fleet"};
  for (const Member& m : members) args.push_back((dir.path() / m.link).string());
  args.insert(args.end(), {"--images", dir.path().string(), "--out", (dir.path() / "out").string(),
                           "--json", (dir.path() / "report.json").string()});
  args.insert(args.end(), options.begin(), options.end());
  return args;
}

// zephor fleet to its end, what it printed in printed; its exit code.
int RunFleet(const TempDir& dir, const std::vector<std::string>& args, std::string& printed) {
  std::string command = ZEPHOR_CLI_PATH;
  for (const std::string& arg : args) command += " '" + arg + "'";
  const std::string log = (dir.path() / "fleet.txt").string();
  const int status = std::system((command + " > " + log + " 2>&1 < /dev/null").c_str());
  printed = ReadWhole(log);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Every file a folder may hold carries its own instrument's number or is one of the run's own.
bool OwnFile(const std::string& name, int equipment) {
  for (const char* plain : {"ZEPHOR.lock", "ZEPHOR.log", "ZEPHORdata.bin", "ZEPHORdata.bin.part",
                            "_Conversion.txt", "_Quarvel.txt"}) {
    if (name == plain) return true;
  }
  return name.starts_with("ZEPHORdata-" + Number(equipment) + "-") ||
         name == "ZEPHORrestore-" + Number(equipment) + ".json";
}

const json* ReportOf(const json& report, const std::string& port) {
  for (const json& instrument : report["instruments"]) {
    if (instrument["port"] == port) return &instrument;
  }
  return nullptr;
}

bool AwaitLog(const std::string& path, const std::string& text) {
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (ReadWhole(path).find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() > giveUp) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// The simulator's versions and grade, quick to restart and to convert, with more options.
std::vector<std::string> State(const char* main, const char* bootAndUpdate, const char* grade,
                               const std::vector<std::string>& more = {}) {
  std::vector<std::string> state{"--main",        main,          "--boot",          bootAndUpdate,
                                 "--update",      bootAndUpdate, "--grade",         grade,
                                 "--ready-delay", "200",         "--conversion-ms", "200"};
  state.insert(state.end(), more.begin(), more.end());
  return state;
}

// Four instruments at once, grades "QN" and "QH", one pulled out half-way through the download of
// its memory: the three others finish, each folder holds only its own files, the saved memories
// are each instrument's own, and the report names all four with their exit codes.
TEST(FleetTest, FourInstrumentsAtOnceEachInItsOwnFolder) {
  TempDir dir;
  script::WriteImageSet(dir, {"1.3", "1.3", "1.40", "7"});
  const std::vector<Member> members{
      {"full-qn",
       101,
       State("1.28", "1.2", "QN", {"--generate-db", "7:4000"}),
       0,
       {"_Conversion.txt", "ZEPHORdata.bin"}},
      {"main-qh",
       202,
       State("1.31", "1.3", "QH", {"--generate-db", "5:3000"}),
       0,
       {"_Conversion.txt", "ZEPHORdata.bin"}},
      {"unplugged-qn",
       303,
       State("1.31", "1.3", "QN", {"--generate-db", "9:8000", "--unplug-at-download-block", "20"}),
       5,
       {"ZEPHORrestore-000000303.json"}},
      {"old-qh",
       404,
       State("1.28", "1.2", "QH", {"--generate-db", "3:3000"}),
       0,
       {"ZEPHORdata.bin"}},
  };
  const Sims sims = StartSims(dir, members);

  std::string printed;
  EXPECT_EQ(RunFleet(dir, FleetArguments(dir, members, {"--yes"}), printed), 5) << printed;

  const json report = json::parse(ReadWhole(dir.path() / "report.json"), nullptr, false);
  ASSERT_TRUE(report.is_object()) << printed;
  EXPECT_EQ(report["instruments"].size(), members.size());
  for (std::size_t i = 0; i < members.size(); ++i) {
    const Member& m = members[i];
    SCOPED_TRACE(m.link);
    const json* mine = ReportOf(report, (dir.path() / m.link).string());
    ASSERT_NE(mine, nullptr) << report.dump(2);
    EXPECT_EQ((*mine)["exitCode"], m.exitCode) << mine->dump(2);
    EXPECT_EQ((*mine)["before"]["info"]["equipmentNumber"], m.equipment);
    EXPECT_EQ((*mine)["after"]["status"], m.exitCode == 0 ? "OK" : "No ZEPHOR connected");
    EXPECT_FALSE((*mine)["imagesLoaded"].empty());
    for (const std::string& name : m.kept) {
      EXPECT_TRUE(std::filesystem::exists(FolderOf(dir, m) / name)) << name;
    }
    for (const auto& entry : std::filesystem::directory_iterator(FolderOf(dir, m))) {
      EXPECT_TRUE(OwnFile(entry.path().filename().string(), m.equipment)) << entry.path();
    }
    // The memory saved is this instrument's, padded to whole blocks.
    const std::string saved = ReadWhole(FolderOf(dir, m) / "ZEPHORdata.bin");
    if (m.exitCode == 0) {
      EXPECT_EQ(saved.compare(0, sims.memories[i].size(), sims.memories[i]), 0);
    }
  }
}

// Two ports answer with one number: neither is loaded, and the instrument beside them is.
TEST(FleetTest, OneNumberOnTwoPortsIsRefusedBeforeAnythingIsLoaded) {
  TempDir dir;
  script::WriteImageSet(dir, {"1.3", "1.3", "1.40", "7"});
  const std::vector<std::string> old{"--main",   "1.32", "--boot",  "1.3",
                                     "--update", "1.3",  "--grade", "QN"};
  const std::vector<Member> members{
      {"first", 55, old, 6, {}}, {"second", 55, old, 6, {}}, {"other", 56, old, 0, {}}};
  const Sims sims = StartSims(dir, members);
  // A link where the report goes: replaced by the report, its target never written.
  dir.Write("elsewhere.txt", {'k', 'e', 'p', 't'});
  std::filesystem::create_symlink(dir.path() / "elsewhere.txt", dir.path() / "report.json");

  std::string printed;
  EXPECT_EQ(RunFleet(dir, FleetArguments(dir, members, {"--yes"}), printed), 6) << printed;
  EXPECT_NE(printed.find("ZEPHOR 000000055 answers on more than one port"), std::string::npos)
      << printed;
  EXPECT_EQ(ReadWhole(dir.path() / "elsewhere.txt"), "kept");
  EXPECT_FALSE(std::filesystem::is_symlink(dir.path() / "report.json"));
  EXPECT_EQ(json::parse(ReadWhole(dir.path() / "report.json"))["exitCode"], 6);
  for (const Member& m : members) {
    const std::string heard = ReadWhole(dir.path() / (std::string(m.link) + ".log"));
    EXPECT_EQ(heard.find("header") != std::string::npos, m.exitCode == 0) << m.link << heard;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "out" / "ZEPHOR-000000055"));
}

// An interrupt to the fleet reaches every instrument's run in the middle of its load: each
// sends its cancel sequence and keeps its journal; the fleet ends with 130.
TEST(FleetTest, InterruptStopsEveryInstrumentThroughItsCleanUp) {
  TempDir dir;
  script::WriteImageSet(dir, {"1.2", "1.2", "1.35", "5"});
  // Long enough that the interrupt finds every transfer running.
  dir.Write("main.bin", script::ImageBytes({"main.bin", 400000, 'm'}, "1.35", "5"));
  const std::vector<std::string> state{"--main",   "1.32", "--boot",  "1.2",
                                       "--update", "1.2",  "--grade", "QN"};
  const std::vector<Member> members{{"one", 1, state, 130, {"ZEPHORrestore-000000001.json"}},
                                    {"two", 2, state, 130, {"ZEPHORrestore-000000002.json"}}};
  const Sims sims = StartSims(dir, members);

  const pid_t fleet = transfer::StartChild(ZEPHOR_CLI_PATH, FleetArguments(dir, members, {"--yes"}),
                                           dir.path(), {});
  ASSERT_GT(fleet, 0);
  for (const Member& m : members) {
    ASSERT_TRUE(
        AwaitLog((dir.path() / (std::string(m.link) + ".log")).string(), "header accepted"));
  }
  // The transfers are under way once the headers are taken.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  kill(fleet, SIGINT);
  EXPECT_EQ(transfer::FinishChild(fleet, 20000), 130);

  const json report = json::parse(ReadWhole(dir.path() / "report.json"), nullptr, false);
  for (const Member& m : members) {
    SCOPED_TRACE(m.link);
    EXPECT_TRUE(AwaitLog((dir.path() / (std::string(m.link) + ".log")).string(),
                         "receive cancelled: the sender sent two CAN"));
    for (const std::string& name : m.kept) {
      EXPECT_TRUE(std::filesystem::exists(FolderOf(dir, m) / name)) << name;
    }
    const json* mine = ReportOf(report, (dir.path() / m.link).string());
    ASSERT_NE(mine, nullptr) << report.dump(2);
    EXPECT_EQ((*mine)["exitCode"], m.exitCode);
  }
}

}  // namespace
}  // namespace zephor::update
