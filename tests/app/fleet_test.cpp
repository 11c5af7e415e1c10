// The fleet's pieces that no end-to-end run reaches easily: the event lines between a run and its
// watcher, the plan's refusals and its match of a waiting loader to a journal, the ranking of
// exit codes, and the live table.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "app/event_view.h"
#include "app/fleet_plan.h"
#include "app/fleet_report.h"
#include "app/fleet_screen.h"
#include "temp_dir.h"
#include "update/run_journal.h"

namespace zephor::app {
namespace {

namespace fs = std::filesystem;

// What a run shows reaches its watcher whole: progress of every kind with its fields, log text
// with bytes that are no UTF-8, a preset answer, and a question that waits for the watcher's
// reply line. A reply line longer than any answer is Cancel, said, and skipped to its end; the
// end of input is Cancel.
TEST(FleetEventTest, WhatARunShowsReachesItsWatcher) {
  std::ostringstream out;
  std::ostringstream err;
  // The line's last letters would read "ok" if its head were cut off and the rest kept.
  std::istringstream replies(std::string(kReplyLineLimit, 'x') + "ok\nok\n");
  EventView view(out, err, replies, ConsoleAnswer::kAsk);
  view.AnswerFor("Erase anyway?", ConsoleAnswer::kCancel);
  device::ProgressEvent step{
      device::ProgressKind::kTransferStep, "main.bin", true, 384, 700, 2, 0, 0, 4242};
  view.ShowProgress(step);
  for (const device::ProgressKind kind :
       {device::ProgressKind::kTransferPlanned, device::ProgressKind::kTransferStart,
        device::ProgressKind::kTransferEnd, device::ProgressKind::kWaitStart,
        device::ProgressKind::kWaitEnd}) {
    view.ShowProgress({kind, "boot.bin", true, 0, 0, 0, 0, 0, 0});
  }
  view.AppendLog("\tLoad \xff Done\r\n");
  EXPECT_FALSE(view.ShowMessage("Erase anyway?", device::MessageButtons::kOkCancel));
  EXPECT_FALSE(view.ShowMessage("Finish it now?", device::MessageButtons::kOkCancel));
  EXPECT_EQ(err.str(), std::string(kReplyTooLongText) + "\n");
  EXPECT_TRUE(view.ShowMessage("Finish it now?", device::MessageButtons::kOkCancel));
  EXPECT_FALSE(view.ShowMessage("Finish it now?", device::MessageButtons::kOkCancel));

  std::istringstream lines(out.str() + "stopped by signal 2\n");
  std::vector<RunEvent> events;
  for (std::string line; std::getline(lines, line);) events.push_back(DecodeRunEvent(line));
  ASSERT_EQ(events.size(), 12U) << out.str();
  const device::ProgressEvent& got = events[0].progress;
  EXPECT_EQ(events[0].kind, RunEvent::Kind::kProgress);
  EXPECT_TRUE(got.kind == step.kind && got.subject == step.subject && got.sending &&
              got.bytes == 384 && got.totalBytes == 700 && got.blocksResent == 2 &&
              got.tickMs == 4242);
  const device::ProgressKind kinds[] = {
      device::ProgressKind::kTransferPlanned, device::ProgressKind::kTransferStart,
      device::ProgressKind::kTransferEnd, device::ProgressKind::kWaitStart,
      device::ProgressKind::kWaitEnd};
  for (std::size_t i = 0; i < std::size(kinds); ++i) {
    ASSERT_EQ(events[1].kind, RunEvent::Kind::kProgress) << out.str();
    EXPECT_EQ(events[1].progress.kind, kinds[i]) << i;
    events.erase(events.begin() + 1);
  }
  EXPECT_EQ(events[1].kind, RunEvent::Kind::kLog);
  EXPECT_EQ(events[1].text, "\tLoad \xef\xbf\xbd Done\r\n");
  EXPECT_TRUE(events[2].question && events[2].answer == ConsoleAnswer::kCancel);
  EXPECT_TRUE(events[3].question && events[3].answer == ConsoleAnswer::kAsk);
  EXPECT_EQ(events[3].text, "Finish it now?");
  EXPECT_EQ(events[6].kind, RunEvent::Kind::kText);
}

TEST(FleetReportTest, WorstExitCodeFollowsTheNeedForAttention) {
  EXPECT_EQ(WorstExitCode({}), 0);
  EXPECT_EQ(WorstExitCode({0, 1, 0}), 1);
  EXPECT_EQ(WorstExitCode({6, 3, 2}), 3);
  EXPECT_EQ(WorstExitCode({5, 4, 3}), 5);
  EXPECT_EQ(WorstExitCode({5, 130, 0}), 130);
}

std::string Identity(const char* status, int equipment = -1) {
  std::string text = std::string("{\"status\": \"") + status + "\"";
  if (equipment >= 0)
    text += ", \"info\": {\"equipmentNumber\": " + std::to_string(equipment) + "}";
  return text + "}";
}

// A scratch folder for the plan's folders.
struct OutFolder {
  // A folder holding the journal of a stopped run of that instrument.
  void OpenRun(const std::string& folder, int equipment) const {
    fs::create_directories(path / folder);
    update::RunJournal journal;
    journal.info.equipmentNumber = equipment;
    update::WriteJournal(files::SystemDisk(), update::JournalPath(path / folder, equipment),
                         journal);
  }
  const support::TempDir scratch;
  const fs::path path = scratch.path();
};

struct PlanCase {
  const char* name;
  std::vector<std::string> identities;  // one per port, COM1 up
  std::vector<int> openRuns;            // instruments with a stopped run in the out folder
  bool strangerForFirst;  // a link (a file where links cannot be made) stands where the first
                          // folder would be made
  bool skipSilent;
  // Per port: its action, exit code when refused, and folder (a name under out) when it runs.
  std::vector<FleetAction> actions;
  std::vector<int> codes;
  std::vector<std::string> folders;
  // Per stopped run: the port its last fleet run was on, as its folder records it.
  std::vector<std::string> portsOfOpenRuns = {};
};

void PrintTo(const PlanCase& row, std::ostream* out) { *out << row.name; }

class FleetPlanTest : public ::testing::TestWithParam<PlanCase> {};

TEST_P(FleetPlanTest, EachInstrumentGetsAFolderOfItsOwnOrAReason) {
  const PlanCase& c = GetParam();
  const OutFolder out;
  for (std::size_t i = 0; i < c.openRuns.size(); ++i) {
    const std::string folder = "ZEPHOR-" + update::EquipmentText(c.openRuns[i]);
    out.OpenRun(folder, c.openRuns[i]);
    if (i < c.portsOfOpenRuns.size()) {
      std::ofstream(out.path / folder / kFleetPortFileName) << c.portsOfOpenRuns[i] << "\n";
    }
  }
  if (c.strangerForFirst) {
    const fs::path where = out.path / "ZEPHOR-000000011";
    std::error_code noLinks;
    fs::create_directory_symlink(fs::temp_directory_path(), where, noLinks);
    if (noLinks) std::ofstream(where) << "not a folder";
  }
  std::vector<FleetMember> members;
  for (std::size_t i = 0; i < c.identities.size(); ++i) {
    members.push_back({"COM" + std::to_string(i + 1), c.identities[i], "", ""});
  }
  const std::vector<FleetEntry> plan =
      PlanFleet(members, out.path, c.skipSilent, files::SystemDisk());
  ASSERT_EQ(plan.size(), c.actions.size());
  for (std::size_t i = 0; i < plan.size(); ++i) {
    SCOPED_TRACE(plan[i].member.port + ": " + plan[i].why);
    EXPECT_EQ(plan[i].action, c.actions[i]);
    EXPECT_EQ(plan[i].exitCode, c.codes[i]);
    EXPECT_EQ(plan[i].folder.empty() ? "" : plan[i].folder.filename().string(), c.folders[i]);
    if (plan[i].action == FleetAction::kRun) {
      EXPECT_TRUE(fs::is_directory(plan[i].folder));
    }
  }
}

using enum FleetAction;
INSTANTIATE_TEST_SUITE_P(
    Table, FleetPlanTest,
    ::testing::Values(PlanCase{"OneNumberOnTwoPorts",
                               {Identity("OK", 11), Identity("OK", 12), Identity("OK", 11)},
                               {},
                               false,
                               false,
                               {kRefuse, kRun, kRefuse},
                               {6, 0, 6},
                               {"", "ZEPHOR-000000012", ""}},
                      PlanCase{"SilentPortsSkippedWithAll",
                               {Identity("No ZEPHOR connected"), ""},
                               {},
                               false,
                               true,
                               {kSkip, kSkip},
                               {0, 0},
                               {"", ""}},
                      PlanCase{"SilentNamedPortRefused",
                               {Identity("No ZEPHOR connected")},
                               {},
                               false,
                               false,
                               {kRefuse},
                               {3},
                               {""}},
                      PlanCase{"WaitingLoaderTakesTheOnlyStoppedRunOfAnother",
                               {Identity("No BOOT program"), Identity("OK", 11)},
                               {11, 42},
                               false,
                               false,
                               {kRun, kRun},
                               {0, 0},
                               {"ZEPHOR-000000042", "ZEPHOR-000000011"}},
                      PlanCase{"WaitingLoadersTakeTheStoppedRunsOfTheirPorts",
                               {Identity("No MAIN program"), Identity("No BOOT program")},
                               {41, 42},
                               false,
                               false,
                               {kRun, kRun},
                               {0, 0},
                               {"ZEPHOR-000000042", "ZEPHOR-000000041"},
                               {"COM2", "COM1"}},
                      PlanCase{"WaitingLoaderWithTwoStoppedRunsIsRefused",
                               {Identity("No MAIN program")},
                               {41, 42},
                               false,
                               false,
                               {kRefuse},
                               {4},
                               {""}},
                      PlanCase{"LinkWhereTheFolderWouldBe",
                               {Identity("OK", 11)},
                               {},
                               true,
                               false,
                               {kRefuse},
                               {6},
                               {"ZEPHOR-000000011"}}),
    [](const ::testing::TestParamInfo<PlanCase>& info) { return info.param.name; });

// On a terminal the table is redrawn in place with each instrument's step and per cent; a line
// for the technician goes above it.
TEST(FleetScreenTest, LiveTableIsRedrawnInPlace) {
  std::deque<FleetRow> rows;
  rows.emplace_back("COM5", "000000011", "out");
  std::ostringstream out;
  FleetScreen screen(out, true, 80, rows);
  RunEvent start;
  start.kind = RunEvent::Kind::kProgress;
  start.progress = {device::ProgressKind::kTransferStart, "main.bin", true, 0, 1000, 0, 0, 0, 0};
  rows[0].Apply(start, 0);
  RunEvent step = start;
  step.progress.kind = device::ProgressKind::kTransferStep;
  step.progress.bytes = 500;
  step.progress.tickMs = 1000;
  rows[0].Apply(step, 1000);
  screen.Draw(1000, true);
  EXPECT_NE(out.str().find("COM5  000000011  main.bin  50 %  500 B/s  1 s"), std::string::npos)
      << out.str();
  screen.Say("ZEPHOR 000000011 on COM5: Restart the ZEPHOR !!");
  screen.Draw(2000, false);
  EXPECT_NE(out.str().find(
                "\033[2A\r\033[JZEPHOR 000000011 on COM5: Restart the ZEPHOR !!\n\r\033[KPORT"),
            std::string::npos)
      << out.str();
}

}  // namespace
}  // namespace zephor::app
