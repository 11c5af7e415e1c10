// The terminal view and the port names of the command line.
#include "app/console_view.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>

#include "app/port_choice.h"
#include "app/port_dump.h"
#include "app/progress_line.h"
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

// The live line and the summaries, on a clock the test moves.
struct ProgressCase {
  const char* name;
  bool live;
  // Each step: the event (its tick included), then the wait pump's passes at these ticks.
  std::vector<std::pair<device::ProgressEvent, std::vector<std::uint32_t>>> steps;
  std::string printed;
};

void PrintTo(const ProgressCase& c, std::ostream* out) { *out << c.name; }

// A receive's length is the one the instrument announced, here none unless given.
device::ProgressEvent Event(device::ProgressKind kind, std::uint32_t tick, long bytes = 0,
                            int result = 0, const char* subject = "main.bin", long announced = 0) {
  device::ProgressEvent event;
  event.kind = kind;
  event.subject = subject;
  event.sending = std::string(subject) == "main.bin";
  event.totalBytes = event.sending ? 2560 : announced;
  event.bytes = bytes;
  event.result = result;
  event.tickMs = tick;
  event.blocksResent = bytes > 0 ? 1 : 0;
  event.limitMs = kind == device::ProgressKind::kWaitStart ? 3000 : 0;
  return event;
}

class ProgressLineTest : public ::testing::TestWithParam<ProgressCase> {};

TEST_P(ProgressLineTest, PrintsWhatTheTransferAndTheWaitDid) {
  const ProgressCase& c = GetParam();
  std::ostringstream out;
  std::uint32_t now = 0;
  ProgressLine line(out, c.live, [&now] { return now; });
  for (const auto& [event, passes] : c.steps) {
    now = event.tickMs;
    line.Show(event);
    for (const std::uint32_t pass : passes) {
      now = pass;
      line.Tick();
    }
  }
  EXPECT_EQ(out.str(), c.printed);
}

using device::ProgressKind;
constexpr char kWipe[] = "\r\033[K";
INSTANTIATE_TEST_SUITE_P(
    Table, ProgressLineTest,
    ::testing::Values(
        // Not a terminal: only the summary, with the blocks sent again.
        ProgressCase{"SummaryOnly",
                     false,
                     {{Event(ProgressKind::kTransferStart, 1000), {}},
                      {Event(ProgressKind::kTransferStep, 1500, 1280), {9000}},
                      {Event(ProgressKind::kTransferEnd, 3000, 2560, 1), {}}},
                     "main.bin: 2560 bytes in 2.0 s, 1280 B/s, 1 block sent again\n"},
        // A terminal: blocks, per cent, rate and time left, redrawn no more than the limit
        // allows; a line quiet for long is named; the summary replaces the live line.
        ProgressCase{"LiveLine",
                     true,
                     {{Event(ProgressKind::kTransferStart, 1000), {}},
                      {Event(ProgressKind::kTransferStep, 2000, 1280), {}},
                      {Event(ProgressKind::kTransferStep, 2100, 1280), {}},
                      {Event(ProgressKind::kTransferStep, 4500, 1280), {}},
                      {Event(ProgressKind::kTransferEnd, 5000, 2560, 1), {}}},
                     std::string(kWipe) + "main.bin: block 0 of 20, 0 %, 0 B/s" + kWipe +
                         "main.bin: block 10 of 20, 50 %, 1280 B/s, 1 s left" + kWipe +
                         "main.bin: block 10 of 20, 50 %, 365 B/s, 3 s left, line quiet for 2 s" +
                         kWipe + "main.bin: 2560 bytes in 4.0 s, 640 B/s, 1 block sent again\n"},
        // A download whose length the instrument announced has a per cent and a time left.
        ProgressCase{
            "LiveDownloadOfAnnouncedLength",
            true,
            {{Event(ProgressKind::kTransferStart, 0, 0, 0, "ZEPHORdata.bin", 4000), {}},
             {Event(ProgressKind::kTransferStep, 1000, 1024, 0, "ZEPHORdata.bin", 4000), {}}},
            std::string(kWipe) + "ZEPHORdata.bin: 0 of 4000 bytes, 0 %, 0 B/s" + kWipe +
                "ZEPHORdata.bin: 1024 of 4000 bytes, 25 %, 1024 B/s, 2 s left"},
        // A failed receive: how far it got and its code.
        ProgressCase{"FailedReceive",
                     false,
                     {{Event(ProgressKind::kTransferStart, 0, 0, 0, "ZEPHORdata.bin"), {}},
                      {Event(ProgressKind::kTransferEnd, 2500, 384, -608, "ZEPHORdata.bin"), {}}},
                     "ZEPHORdata.bin: failed with -608 after 384 bytes in 2.5 s\n"},
        // A wait counts down once a second on a terminal and leaves no trace when it ends.
        ProgressCase{"Countdown",
                     true,
                     {{Event(ProgressKind::kWaitStart, 0, 0, 0, "READY"), {400, 1200, 1900}},
                      {Event(ProgressKind::kWaitEnd, 2100, 0, 0, "READY"), {}}},
                     std::string(kWipe) + "Waiting for READY: 3 s left" + kWipe +
                         "Waiting for READY: 2 s left" + kWipe},
        ProgressCase{"NoCountdownOffTerminal",
                     false,
                     {{Event(ProgressKind::kWaitStart, 0, 0, 0, "READY"), {1200}},
                      {Event(ProgressKind::kWaitEnd, 1300, 0, 0, "READY"), {}}},
                     ""}),
    [](const ::testing::TestParamInfo<ProgressCase>& info) { return info.param.name; });

TEST(PortNameTest, ComNamesGiveIndexes) {
  struct Case {
    const char* name;
    int index;  // -1: not a COM name
  };
  const Case cases[] = {{"COM1", 0},     {"com4", 3},         {"COM5", 4},  {"COM12", 11},
                        {"COM256", 255}, {"COM257", -1},      {"COM0", -1}, {"COM", -1},
                        {"COM1x", -1},   {"/dev/ttyUSB0", -1}};
  for (const Case& c : cases) {
    int index = -7;
    const bool named = PortIndexFromName(c.name, index);
    EXPECT_EQ(named ? index : -1, c.index) << c.name;
  }
}

// Device paths name ports where the driver opens paths; Windows names every port COMn.
#ifndef _WIN32
TEST(PortNameTest, DevicePathsAndByIdNamesGiveThePortThatOpensThem) {
  unsetenv("ZEPHOR_COM1");
  unsetenv("ZEPHOR_COM7");
  serial::FoundPort adapter;
  adapter.device = "/dev/ttyUSB7";
  adapter.byId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A9XYZ-if00-port0";
  struct Case {
    const char* name;
    int index;
    const char* device;
  };
  const Case cases[] = {
      {"/dev/ttyS6", 6, "/dev/ttyS6"},  // a UART keeps its COM number
      {"usb-FTDI_FT232R_USB_UART_A9XYZ-if00-port0", 0, "/dev/ttyUSB7"},  // stands in for COM1
      {"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A9XYZ-if00-port0", 0, "/dev/ttyUSB7"},
      {"/tmp/zephor-link", 0, "/tmp/zephor-link"},
  };
  for (const Case& c : cases) {
    int index = -1;
    EXPECT_TRUE(PortIndexForName(c.name, {adapter}, index)) << c.name;
    EXPECT_EQ(index, c.index) << c.name;
    EXPECT_EQ(serial::PortDeviceName(index), c.device) << c.name;
    EXPECT_EQ(
        DescribeOpenFailure(index, serial::kNoHardware, serial::OpenRefusal::kNotTold),
        "COM" + std::to_string(c.index + 1) + " is " + c.device + ": no such device (status -14)")
        << c.name;
  }
  unsetenv("ZEPHOR_COM1");
}
#endif

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
