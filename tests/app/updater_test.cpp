// The updater over a recording view: log, busy guard, port choice, close and the stderr copy.
#include "app/updater.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "device/command_link.h"
#include "recording_view.h"
#include "serial/memory_line.h"
#include "serial/timed_io.h"

namespace zephor::app {
namespace {

class UpdaterTest : public ::testing::Test {
 protected:
  RecordingView view;
  serial::MemoryLine line;
  serial::MemoryPortFactory factory;
  serial::VirtualTiming timing;
  std::ostringstream errors;
  Updater updater{view, &factory, &timing, &errors};
};

TEST_F(UpdaterTest, StartsAtCom1WithEmptyState) {
  EXPECT_EQ(updater.station().portIndex, 0);
  EXPECT_EQ(updater.station().panel, &updater);
  EXPECT_TRUE(updater.station().statusText.empty());
  EXPECT_TRUE(updater.station().grade.empty());
  EXPECT_TRUE(updater.log().empty());
}

TEST_F(UpdaterTest, TwoAppendsShowTheirTextsWithNothingBetween) {
  updater.AppendLog("abc");
  updater.AppendLog("def");
  EXPECT_EQ(updater.log(), "abcdef");
  EXPECT_EQ(view.shown, "abcdef");
  EXPECT_EQ(view.setLogs, 0);
}

TEST_F(UpdaterTest, ClearLogEmptiesLogAndBox) {
  updater.AppendLog("\tline\r\n");
  updater.ClearLog();
  EXPECT_TRUE(updater.log().empty());
  EXPECT_EQ(view.clears, 1);
  EXPECT_TRUE(view.shown.empty());
}

TEST_F(UpdaterTest, FramedSectionGoesThroughTheLog) {
  device::LogSection(updater, "Read Data ZEPHOR");
  EXPECT_EQ(updater.log(),
            "\t--------------------------\r\n\t----  ZEPHOR  ----\r\n"
            "\t--------------------------\r\n\tRead Data ZEPHOR\r\n");
}

TEST_F(UpdaterTest, LogAtTheCapIsKeptWhole) {
  const std::string block(kLogCapBytes - 2, 'x');
  updater.AppendLog(block);
  updater.AppendLog("\r\n");
  EXPECT_EQ(updater.log().size(), kLogCapBytes);
  EXPECT_EQ(view.setLogs, 0);
}

TEST_F(UpdaterTest, LogOverTheCapDropsOldestLinesAtALineStart) {
  const std::string lineText = "\tline of the activity log 0123456789\r\n";  // 38 bytes
  std::size_t written = 0;
  int n = 0;
  while (written <= kLogCapBytes + 10 * lineText.size()) {
    const std::string numbered = "\t" + std::to_string(n++) + lineText.substr(1);
    updater.AppendLog(numbered);
    written += numbered.size();
  }
  const std::string newest = "\tthe newest line\r\n";
  updater.AppendLog(newest);

  const std::string& log = updater.log();
  EXPECT_LE(log.size(), kLogCapBytes);
  EXPECT_GT(log.size(), kLogCapBytes - kLogTrimSlack - lineText.size() - 8);
  EXPECT_EQ(log.front(), '\t');  // a whole line, not a cut one
  EXPECT_EQ(log.substr(log.size() - newest.size()), newest);
  EXPECT_EQ(log.find("\t0line"), std::string::npos);  // the oldest line is gone
  EXPECT_EQ(view.setLogs, 1);  // rewritten once, not on every line past the cap
  EXPECT_EQ(view.shown, log);  // the box was given the trimmed text
}

TEST_F(UpdaterTest, OneLineLongerThanTheCapIsCutWhereTheKeptTextBegins) {
  updater.AppendLog(std::string(kLogCapBytes + 100, 'y'));
  EXPECT_EQ(updater.log().size(), kLogCapBytes - kLogTrimSlack);
  EXPECT_EQ(view.shown.size(), kLogCapBytes - kLogTrimSlack);
}

TEST_F(UpdaterTest, LogAndMessagesAreCopiedToStandardError) {
  updater.AppendLog("\tFinished.\r\n");
  EXPECT_TRUE(updater.ShowMessage("ZEPHOR connected ?\n", device::MessageButtons::kOk));
  updater.ShowMessage("Restart the ZEPHOR !!", device::MessageButtons::kOk);
  EXPECT_EQ(errors.str(), "\tFinished.\r\nZEPHOR connected ?\nRestart the ZEPHOR !!\n");
  ASSERT_EQ(view.messages.size(), 2U);
  EXPECT_EQ(view.messages[1], "Restart the ZEPHOR !!");
}

TEST_F(UpdaterTest, MessageAnswerComesFromTheView) {
  view.messageAnswer = false;
  EXPECT_FALSE(updater.ShowMessage("Erase ?", device::MessageButtons::kOkCancel));
}

TEST_F(UpdaterTest, PortDialogOkTakesTheChoice) {
  view.dialogChoice = 2;  // COM3
  view.dialogOk = true;
  updater.OnComPortSetup();
  EXPECT_EQ(updater.station().portIndex, 2);
  view.dialogChoice = 2;
  updater.OnComPortSetup();
  EXPECT_EQ(view.dialogOpenedWith, 2);  // reopened on the port in use
}

TEST_F(UpdaterTest, PortDialogCancelKeepsThePreviousPort) {
  view.dialogChoice = 1;
  view.dialogOk = true;
  updater.OnComPortSetup();
  view.dialogChoice = 3;
  view.dialogOk = false;
  updater.OnComPortSetup();
  EXPECT_EQ(view.dialogOpenedWith, 1);
  EXPECT_EQ(updater.station().portIndex, 1);
}

TEST_F(UpdaterTest, APressDuringAnOperationIsIgnored) {
  int inner = 0;
  view.dialogChoice = 3;
  view.dialogOk = true;
  const bool ran = updater.RunOperation([&] {
    EXPECT_TRUE(updater.busy());
    EXPECT_FALSE(updater.RunOperation([&] { ++inner; }));
    updater.OnComPortSetup();
    updater.OnMakeUpdate();
    updater.OnInfo();
  });
  EXPECT_TRUE(ran);
  EXPECT_EQ(inner, 0);
  EXPECT_EQ(view.dialogRuns, 0);
  EXPECT_EQ(updater.station().portIndex, 0);
  EXPECT_FALSE(updater.busy());
  EXPECT_TRUE(updater.RunOperation([&] { ++inner; }));  // idle again: the next press runs
  EXPECT_EQ(inner, 1);
}

TEST_F(UpdaterTest, APressFromInsideALineWaitIsIgnored) {
  // The window stays live while the line is polled: a press arrives through the idle hook.
  factory.AddLine(0, &line);
  int nestedRuns = 0;
  timing.Attach(&line, [&](std::uint32_t now, serial::MemoryLine&) {
    if (now == 5) updater.RunOperation([&] { ++nestedRuns; });
  });
  updater.RunOperation([&] {
    serial::PortHandle port(device::OpenCommandPort(updater.station().ports, 0));
    serial::ReadChar(*port, 20);
  });
  EXPECT_GE(timing.now(), 20U);
  EXPECT_EQ(nestedRuns, 0);
}

TEST_F(UpdaterTest, InfoWithoutAnInstrumentShowsTheNoInfoFrame) {
  updater.AppendLog("\tleft from before\r\n");
  updater.OnInfo();  // no line behind COM1
  EXPECT_FALSE(updater.busy());
  EXPECT_EQ(updater.log().find("left from before"), std::string::npos);
  EXPECT_NE(updater.log().find("No info available"), std::string::npos);
  EXPECT_EQ(view.progress, 0);
  EXPECT_EQ(serial::OpenPortCount(), 0);
}

TEST_F(UpdaterTest, CloseWhenIdleExitsAtOnce) {
  updater.RequestClose();
  ASSERT_EQ(view.exitCodes.size(), 1U);
  EXPECT_EQ(view.exitCodes[0], 0);
}

TEST_F(UpdaterTest, CloseDuringAnOperationEndsItsWaitThenExits) {
  factory.AddLine(0, &line);
  timing.Attach(&line, [&](std::uint32_t now, serial::MemoryLine&) {
    if (now == 50) updater.RequestClose();
  });
  int readResult = 0;
  bool exitedDuringOperation = true;
  updater.RunOperation([&] {
    serial::PortHandle port(device::OpenCommandPort(updater.station().ports, 0));
    readResult = serial::ReadChar(*port, serial::kNoLimit);  // would wait for ever
    exitedDuringOperation = !view.exitCodes.empty();
  });
  EXPECT_LT(readResult, 0);
  EXPECT_LT(timing.now(), 100U);
  EXPECT_FALSE(exitedDuringOperation);
  ASSERT_EQ(view.exitCodes.size(), 1U);
  EXPECT_EQ(view.exitCodes[0], 0);
  EXPECT_EQ(serial::OpenPortCount(), 0);
}

// During a load the close asks first: Cancel lets the wait run to its limit, OK ends it at once.
TEST_F(UpdaterTest, CloseDuringALoadAsksAndOnlyOkStops) {
  for (const bool ok : {false, true}) {
    RecordingView loadView;
    Updater loading{loadView, &factory, &timing, &errors};
    loadView.messageAnswer = ok;
    factory.AddLine(0, &line);
    const std::uint32_t start = timing.now();
    timing.Attach(&line, [&](std::uint32_t now, serial::MemoryLine&) {
      if (now == start + 50) loading.RequestClose();
    });
    loading.RunOperation([&] {
      const device::LoadingScope scope(loading.station());
      serial::PortHandle port(device::OpenCommandPort(loading.station().ports, 0));
      serial::ReadChar(*port, 1000);
    });
    EXPECT_EQ(loadView.messages, std::vector<std::string>{kStopLoadQuestion}) << ok;
    EXPECT_EQ(timing.now() - start < 1000, ok) << ok;
    EXPECT_EQ(loadView.exitCodes.size(), ok ? 1U : 0U) << ok;
  }
}

TEST_F(UpdaterTest, ExitProgramPassesItsCodeAndStopsWaits) {
  updater.ExitProgram(1);
  ASSERT_EQ(view.exitCodes.size(), 1U);
  EXPECT_EQ(view.exitCodes[0], 1);
  EXPECT_TRUE(updater.station().ports.timing->StopRequested());
  updater.RequestClose();
  EXPECT_EQ(view.exitCodes.size(), 1U);  // the program ends once
}

TEST_F(UpdaterTest, ProgressGoesToTheView) {
  updater.SetProgressRange(1, 100);
  updater.SetProgress(50);
  EXPECT_EQ(view.progress, 50);
}

}  // namespace
}  // namespace zephor::app
