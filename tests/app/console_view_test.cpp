// The terminal view and the port names of the command line.
#include "app/console_view.h"

#include <gtest/gtest.h>

#include <sstream>

#include "app/port_dump.h"
#include "serial/memory_line.h"

namespace zephor::app {
namespace {

TEST(ConsoleViewTest, LogGoesToStandardOutputWithoutCarriageReturns) {
  std::ostringstream out, err;
  std::istringstream in;
  ConsoleView view(out, err, in, ConsoleAnswer::kAsk);
  view.AppendLog("\tFinished.\r\n");
  EXPECT_EQ(out.str(), "\tFinished.\n");
  EXPECT_TRUE(err.str().empty());
}

TEST(ConsoleViewTest, PresetAnswerDecidesOkCancel) {
  std::ostringstream out, err;
  std::istringstream in;
  ConsoleView yes(out, err, in, ConsoleAnswer::kOk);
  ConsoleView no(out, err, in, ConsoleAnswer::kCancel);
  EXPECT_TRUE(yes.ShowMessage("Continue ?", device::MessageButtons::kOkCancel));
  EXPECT_FALSE(no.ShowMessage("Continue ?", device::MessageButtons::kOkCancel));
  EXPECT_NE(err.str().find("Continue ?\n"), std::string::npos);
}

// A question that must not be answered blindly keeps its own answer, and a limited OK runs out.
TEST(ConsoleViewTest, SpecificAnswersOverrideThePresetOne) {
  std::ostringstream out, err;
  std::istringstream in;
  ConsoleView view(out, err, in, ConsoleAnswer::kOk);
  view.AnswerFor("Erase anyway?", ConsoleAnswer::kCancel);
  view.AnswerFor("Keep waiting?", ConsoleAnswer::kOk, 2);
  EXPECT_FALSE(view.ShowMessage("Erase anyway?", device::MessageButtons::kOkCancel));
  EXPECT_TRUE(view.ShowMessage("Other?", device::MessageButtons::kOkCancel));
  EXPECT_TRUE(view.ShowMessage("Keep waiting?", device::MessageButtons::kOkCancel));
  EXPECT_TRUE(view.ShowMessage("Keep waiting?", device::MessageButtons::kOkCancel));
  EXPECT_FALSE(view.ShowMessage("Keep waiting?", device::MessageButtons::kOkCancel));
}

TEST(ConsoleViewTest, AskedAnswerIsReadFromTheTerminal) {
  std::ostringstream out, err;
  std::istringstream in("o\nc\n");
  ConsoleView view(out, err, in, ConsoleAnswer::kAsk);
  EXPECT_TRUE(view.ShowMessage("First ?", device::MessageButtons::kOkCancel));
  EXPECT_FALSE(view.ShowMessage("Second ?", device::MessageButtons::kOkCancel));
  EXPECT_FALSE(view.ShowMessage("No more input ?", device::MessageButtons::kOkCancel));
}

TEST(ConsoleViewTest, OkBoxNeedsNoAnswer) {
  std::ostringstream out, err;
  std::istringstream in;
  ConsoleView view(out, err, in, ConsoleAnswer::kCancel);
  EXPECT_TRUE(view.ShowMessage("Restart the ZEPHOR !!", device::MessageButtons::kOk));
  EXPECT_EQ(err.str(), "Restart the ZEPHOR !!\n");
}

TEST(ConsoleViewTest, ExitIsRecorded) {
  std::ostringstream out, err;
  std::istringstream in;
  ConsoleView view(out, err, in, ConsoleAnswer::kAsk);
  EXPECT_FALSE(view.exitRequested());
  view.Exit(1);
  EXPECT_TRUE(view.exitRequested());
  EXPECT_EQ(view.exitCode(), 1);
}

TEST(PortNameTest, ComNamesGiveIndexes) {
  int index = -1;
  EXPECT_TRUE(PortIndexFromName("COM1", index));
  EXPECT_EQ(index, 0);
  EXPECT_TRUE(PortIndexFromName("com4", index));
  EXPECT_EQ(index, 3);
  EXPECT_FALSE(PortIndexFromName("COM5", index));
  EXPECT_FALSE(PortIndexFromName("COM0", index));
  EXPECT_FALSE(PortIndexFromName("/dev/ttyUSB0", index));
  EXPECT_FALSE(PortIndexFromName("COM12", index));
}

TEST(PortDumpTest, MissingDeviceReportsItsOpenStatus) {
  serial::MemoryPortFactory factory;
  serial::VirtualTiming timing;
  std::vector<std::string> lines;
  const int status =
      DumpOpenedPort({&factory, &timing}, 2, [&](const std::string& l) { lines.push_back(l); });
  EXPECT_EQ(status, serial::kNoHardware);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "Port dump not supported for this driver");
  EXPECT_EQ(serial::OpenPortCount(), 0);
}

TEST(PortDumpTest, OpenedLineReportsSuccess) {
  serial::MemoryLine line;
  serial::MemoryPortFactory factory;
  factory.AddLine(0, &line);
  serial::VirtualTiming timing;
  const int status = DumpOpenedPort({&factory, &timing}, 0, [](const std::string&) {});
  EXPECT_EQ(status, serial::kOk);
  EXPECT_EQ(line.baud, 9600);
  EXPECT_FALSE(line.deviceHeld);  // closed again
}

}  // namespace
}  // namespace zephor::app
