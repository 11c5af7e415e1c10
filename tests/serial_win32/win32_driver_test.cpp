// The Windows driver over COM2 and COM3 joined back to back (a pseudo-terminal pair under Wine,
// a null-modem pair on Windows): opening, line settings, moving bytes, flushing, diagnostics.
#include "serial/win32_driver.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "serial/port_discovery.h"
#include "serial/status_text.h"
#include "serial/timed_io.h"
#include "serial/win32_timing.h"
#include "wine_host.h"

namespace zephor::serial {
namespace {

// COM1 is left to the instrument (the simulator under Wine); the pair is the next two ports.
constexpr int kLocalCom2 = 1;
constexpr int kRemoteCom3 = 2;
constexpr int kMissingCom9 = 8;
// Waits on data the other end already sent; never reached unless the line is broken.
constexpr int kArrivalLimitMs = 3000;
constexpr int kDumpLines = 10;
// Lets bytes still in flight between the two ends arrive before a flush.
constexpr int kSettleMs = 50;
// A wait on a silent line: the pass after which a byte comes, how late a busy machine may wake
// a pass past its mark, the least a sleeping pass lasts, and how soon after it came the byte
// ends the wait (the pair's relay carries it in a few milliseconds).
constexpr std::size_t kPassesBeforeByte = 8;
constexpr std::uint32_t kPassLateMs = 30;
constexpr std::uint32_t kShortestSleepMs = 40;
constexpr std::uint32_t kByteWakeMs = 25;
// A window whose timer, of the system's shortest period, fires this many times, each set again
// by the last, while a wait of kEchoWaitMs on a silent line goes on: served at once, they take
// a third of it; served once a mark, they would need twice as long.
constexpr int kEchoes = 10;
constexpr int kEchoWaitMs = 350;
constexpr UINT_PTR kEchoTimer = 1;

int g_echoes = 0;

LRESULT CALLBACK EchoProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_TIMER) return DefWindowProcA(window, message, wParam, lParam);
  KillTimer(window, kEchoTimer);
  if (++g_echoes < kEchoes) SetTimer(window, kEchoTimer, USER_TIMER_MINIMUM, nullptr);
  return 0;
}

// Real time that notes when each pass of a wait began and runs a chore at one of them.
class NotedTiming final : public Timing {
 public:
  std::uint32_t TickMs() override { return real_.TickMs(); }
  void IdleFor(SerialPort* port, std::uint32_t maxMs) override {
    passes.push_back(TickMs());
    if (passes.size() == choreAtPass && chore) chore();
    real_.IdleFor(port, maxMs);
  }
  void SleepMs(std::uint32_t ms) override { real_.SleepMs(ms); }
  std::vector<std::uint32_t> passes;
  std::size_t choreAtPass = 0;
  std::function<void()> chore;

 private:
  Win32Timing real_;
};

// A joined pair must be there under Wine (the test run lays it); on Windows it is optional and
// its absence skips the test with the reason. False when the test is to end here.
bool PairReady(const SerialPort& local) {
  if (local.status == kNoHardware && !RunningUnderWine()) {
    [] { GTEST_SKIP() << "COM2 and COM3 must be a null-modem pair on this machine"; }();
    return false;
  }
  EXPECT_EQ(local.status, kOk) << "COM2 did not open";
  return local.status == kOk;
}

class Win32DriverTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (SerialPort* p : opened) ClosePort(p);
  }
  SerialPort* Open(int index, long baud = 9600, char parity = 'N', int dataBits = 8,
                   int stopBits = 1) {
    SerialPort* p = OpenPort(env, index, baud, parity, dataBits, stopBits);
    opened.push_back(p);
    return p;
  }
  // COM3 is the other end: bytes a failed earlier test left on the line are dropped first.
  SerialPort* OpenOtherEnd() {
    SerialPort* p = Open(kRemoteCom3);
    EXPECT_EQ(p->status, kOk);
    Delay(*p, kSettleMs);
    EXPECT_EQ(FlushRxBuffer(*p), kOk);
    return p;
  }
  int CloseEarly(SerialPort* p) {
    std::erase(opened, p);
    return ClosePort(p);
  }
  std::vector<std::string> Dump(SerialPort& p) {
    std::vector<std::string> lines;
    p.DumpPort([&](const std::string& s) { lines.push_back(s); });
    return lines;
  }
  // Reads exactly n bytes from a port within the arrival limit.
  std::string Receive(SerialPort& p, int n) {
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(n));
    const int rc = ReadBuffer(p, buffer.data(), n, kArrivalLimitMs);
    EXPECT_EQ(rc, kOk) << "count " << p.count;
    return std::string(buffer.begin(), buffer.begin() + p.count);
  }

  Win32PortFactory factory;
  Win32Timing timing;
  PortEnvironment env{&factory, &timing};
  std::vector<SerialPort*> opened;
};

TEST(Win32DeviceNameTest, IndexZeroIsCom1) {
  EXPECT_EQ(Win32DeviceName(0), "\\\\.\\COM1");
  EXPECT_EQ(Win32DeviceName(3), "\\\\.\\COM4");
  EXPECT_EQ(Win32DeviceName(9), "\\\\.\\COM10");
}

TEST(MapWin32ErrorTest, SystemAndCommunicationErrors) {
  struct Case {
    long error;
    int status;
  };
  const Case cases[] = {
      {ERROR_ACCESS_DENIED, kPortInUse},
      {ERROR_FILE_NOT_FOUND, kNoHardware},
      {ERROR_PATH_NOT_FOUND, kNoHardware},
      {-1, kInvalidPort},
      {-2, kPortInUse},
      {-4, kOutOfMemory},
      {-10, kNoHardware},
      {-11, kBadDataBits},
      {-12, kBadBaudRate},
      {ERROR_SHARING_VIOLATION, kSystemFailure},
      {-3, kSystemFailure},
      {ERROR_NOT_SUPPORTED, kSystemFailure},
  };
  for (const Case& c : cases) EXPECT_EQ(MapWin32Error(c.error), c.status) << c.error;
}

TEST_F(Win32DriverTest, MissingPortGivesNoHardwareAndStillCloses) {
  SerialPort* p = Open(kMissingCom9);
  EXPECT_EQ(p->status, kNoHardware);
  // Nothing on it reaches a device, and each refusal overwrites the status.
  EXPECT_EQ(p->RxUsed(), kNotSupported);
  EXPECT_EQ(p->status, kNotSupported);
  std::vector<std::string> lines = Dump(*p);
  EXPECT_EQ(lines, (std::vector<std::string>{"Port dump not supported for this driver", ""}));
  EXPECT_EQ(CloseEarly(p), kOk);
  EXPECT_EQ(OpenPortCount(), 0);
}

// The ports the system lists, in number order: the pair among them, COM9 (no device) not. Wine
// has no device manager entries for them: each is described by its registry name.
TEST_F(Win32DriverTest, DiscoveryListsThePairAndNotAMissingPort) {
  if (!PairReady(*Open(kLocalCom2))) return;
  std::vector<std::string> devices;
  for (const FoundPort& port : FindPorts()) {
    devices.push_back(port.device);
    EXPECT_FALSE(port.description.empty()) << port.device;
  }
  auto has = [&devices](const char* name) {
    return std::find(devices.begin(), devices.end(), name) != devices.end();
  };
  EXPECT_TRUE(has("COM2"));
  EXPECT_TRUE(has("COM3"));
  EXPECT_FALSE(has("COM9"));
  EXPECT_TRUE(std::is_sorted(devices.begin(), devices.end(), [](const auto& a, const auto& b) {
    return std::stoi(a.substr(3)) < std::stoi(b.substr(3));
  }));
  EXPECT_EQ(PortDeviceName(kLocalCom2), "COM2");
  EXPECT_TRUE(HoldPortDevice(kLocalCom2, "com2"));
  EXPECT_FALSE(HoldPortDevice(kLocalCom2, "COM3"));
}

TEST_F(Win32DriverTest, DumpAfterOpenShowsTheApplicationSettings) {
  SerialPort* p = Open(kLocalCom2);
  if (!PairReady(*p)) return;
  const std::vector<std::string> expected = {
      "",
      "Port type:  MS Windows  DCB BaudRate: 9600    ByteSize: 8  Parity: 0",
      "StopBits: 0 fBinary: 1  fRtsControl: 1",
      "Parity: 0  OutCtsFlow: 0  OutDsrFlow: 0  DtrControl: 1  OutX: 0  InX: 0",
      "Null: 0  DtrControl: 1  RtsControl: 1  XonChar: 11  XoffChar: 13",
      "XonLim: 262   XoffLim: 262   EofChr: 00  EvtChr: 00",
      "RX count/free:     0/1050   TX count/free:     0/1050   BREAK/FE/OE/PE: 0000",
      "CE_BREAK:0  CE_FRAME:0  CE_MODE:0 CE_OVERRUN:0",
  };
  const std::vector<std::string> lines = Dump(*p);
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kDumpLines));
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 8), expected);
  // The modem lines depend on the other end; the bits before them do not.
  EXPECT_EQ(lines[8].rfind("CE_RXOVER:0 CE_RXPARITY:0 CE_TXFULL:0  CTS/DSR/RI/CD: ", 0), 0u);
  EXPECT_EQ(lines[9], "8250:0000");
  EXPECT_EQ(p->status, kOk);
}

TEST_F(Win32DriverTest, LineArgumentsAreCheckedAndParityIsCaseInsensitive) {
  struct Case {
    long baud;
    char parity;
    int stopBits;
    int status;
    char parityCode;  // last character of the dump's first settings line
  };
  const Case cases[] = {
      {9600, 'n', 1, kOk, '0'},          {9600, 'e', 1, kOk, '2'},
      {9600, 'O', 1, kOk, '1'},          {9600, 'x', 1, kBadParity, '0'},
      {9600, 'N', 3, kBadStopBits, '0'}, {230400, 'N', 1, kBadBaudRate, '0'},
  };
  for (const Case& c : cases) {
    SerialPort* p = Open(kLocalCom2, c.baud, c.parity, 8, c.stopBits);
    if (c.status == kOk && !PairReady(*p)) return;
    EXPECT_EQ(p->status, c.status) << c.baud << ' ' << c.parity << ' ' << c.stopBits;
    // A refused argument leaves the port open and working, with the values stored before it.
    const std::vector<std::string> lines = Dump(*p);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kDumpLines));
    EXPECT_EQ(lines[1].back(), c.parityCode) << c.parity;
    EXPECT_EQ(CloseEarly(p), kOk);
  }
}

TEST_F(Win32DriverTest, TwoStopBitsAndSevenDataBits) {
  SerialPort* p = Open(kLocalCom2, 19200, 'E', 7, 2);
  if (!PairReady(*p)) return;
  const std::vector<std::string> lines = Dump(*p);
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kDumpLines));
  EXPECT_EQ(lines[1], "Port type:  MS Windows  DCB BaudRate: 19200   ByteSize: 7  Parity: 2");
  EXPECT_EQ(lines[2], "StopBits: 2 fBinary: 1  fRtsControl: 1");
}

TEST_F(Win32DriverTest, FlowControlSwitchesChangeTheirFields) {
  SerialPort* p = Open(kLocalCom2);
  if (!PairReady(*p)) return;
  EXPECT_EQ(p->SetXonXoff(true), kOk);
  EXPECT_EQ(p->SetRtsCts(true), kOk);
  EXPECT_EQ(p->SetDtrDsr(true), kOk);
  std::vector<std::string> lines = Dump(*p);
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kDumpLines));
  EXPECT_EQ(lines[3], "Parity: 0  OutCtsFlow: 1  OutDsrFlow: 1  DtrControl: 2  OutX: 1  InX: 1");
  EXPECT_EQ(lines[2], "StopBits: 0 fBinary: 1  fRtsControl: 2");
  // Switching the handshakes off drops the outputs rather than raising them.
  EXPECT_EQ(p->SetRtsCts(false), kOk);
  EXPECT_EQ(p->SetDtrDsr(false), kOk);
  EXPECT_EQ(p->SetXonXoff(false), kOk);
  lines = Dump(*p);
  EXPECT_EQ(lines[3], "Parity: 0  OutCtsFlow: 0  OutDsrFlow: 0  DtrControl: 0  OutX: 0  InX: 0");
  EXPECT_EQ(lines[4], "Null: 0  DtrControl: 0  RtsControl: 0  XonChar: 11  XoffChar: 13");
  EXPECT_EQ(p->SetDtr(true), kOk);
  EXPECT_EQ(p->SetRts(true), kOk);
  lines = Dump(*p);
  EXPECT_EQ(lines[4], "Null: 0  DtrControl: 1  RtsControl: 1  XonChar: 11  XoffChar: 13");
  EXPECT_EQ(p->status, kOk);
}

TEST_F(Win32DriverTest, EmptyLineReadsNothingAndFlushReturnsAtOnce) {
  SerialPort* p = Open(kLocalCom2);
  if (!PairReady(*p)) return;
  std::uint8_t buffer[4] = {};
  EXPECT_EQ(p->ReadBufferNow(buffer, 4), kTimeout);
  EXPECT_EQ(p->count, 0);
  EXPECT_EQ(p->ReadCharNow(), kTimeout);
  EXPECT_EQ(p->RxUsed(), 0);
  EXPECT_EQ(p->RxFree(), kQueueSize);
  EXPECT_EQ(FlushRxBuffer(*p), kOk);
}

TEST_F(Win32DriverTest, CommandReachesTheOtherEnd) {
  SerialPort* local = Open(kLocalCom2);
  if (!PairReady(*local)) return;
  SerialPort* remote = OpenOtherEnd();
  ASSERT_EQ(remote->status, kOk);
  EXPECT_EQ(local->ClearTxBuffer(), kOk);
  EXPECT_EQ(WriteString(*local, "UNLOCK", 10), kOk);
  EXPECT_EQ(Receive(*remote, 7), "UNLOCK\n");
  EXPECT_EQ(local->WriteChar('Z'), kOk);
  EXPECT_EQ(ReadChar(*remote, kArrivalLimitMs), 'Z');
  // And the other way, read as a line without its CR LF.
  EXPECT_EQ(WriteString(*remote, "OK", -2), kOk);
  char line[16] = {};
  EXPECT_EQ(ReadString(*local, line, sizeof line, -2, kArrivalLimitMs), kOk);
  EXPECT_STREQ(line, "OK");
  EXPECT_EQ(local->status, kOk);
}

TEST_F(Win32DriverTest, ReadBufferNowTakesOnlyWhatIsWaiting) {
  SerialPort* local = Open(kLocalCom2);
  if (!PairReady(*local)) return;
  SerialPort* remote = OpenOtherEnd();
  ASSERT_EQ(remote->status, kOk);
  ASSERT_EQ(WriteString(*remote, "0123456789", -1), kOk);
  // Wait until all ten are queued, then ask for more than that.
  std::uint8_t first = 0;
  ASSERT_EQ(ReadBuffer(*local, &first, 1, kArrivalLimitMs), kOk);
  EXPECT_EQ(first, '0');
  const std::uint32_t start = timing.TickMs();
  while (local->RxUsed() < 9 && timing.TickMs() - start < kArrivalLimitMs) timing.Idle(local);
  EXPECT_EQ(local->RxUsed(), 9);
  EXPECT_EQ(local->RxFree(), kQueueSize - 9);
  std::uint8_t buffer[32] = {};
  EXPECT_EQ(local->ReadBufferNow(buffer, sizeof buffer), kOk);
  EXPECT_EQ(local->count, 9);
  EXPECT_EQ(std::string(buffer, buffer + 9), "123456789");
  EXPECT_EQ(local->ReadBufferNow(buffer, sizeof buffer), kTimeout);
  EXPECT_EQ(local->count, 0);
}

TEST_F(Win32DriverTest, FlushDiscardsWaitingBytes) {
  SerialPort* local = Open(kLocalCom2);
  if (!PairReady(*local)) return;
  SerialPort* remote = OpenOtherEnd();
  ASSERT_EQ(remote->status, kOk);
  const std::string junk(100, 'j');
  ASSERT_EQ(WriteString(*remote, junk, -1), kOk);
  const std::uint32_t start = timing.TickMs();
  while (local->RxUsed() < 100 && timing.TickMs() - start < kArrivalLimitMs) timing.Idle(local);
  ASSERT_EQ(local->RxUsed(), 100);
  EXPECT_EQ(FlushRxBuffer(*local), kOk);
  EXPECT_EQ(local->RxUsed(), 0);
  // What comes after the flush is read as usual.
  ASSERT_EQ(remote->WriteChar('R'), kOk);
  EXPECT_EQ(ReadChar(*local, kArrivalLimitMs), 'R');
}

TEST_F(Win32DriverTest, LongWriteCompletesAsTheQueueDrains) {
  SerialPort* local = Open(kLocalCom2);
  if (!PairReady(*local)) return;
  SerialPort* remote = OpenOtherEnd();
  ASSERT_EQ(remote->status, kOk);
  // Three transmit queues' worth, in a pattern that shows a lost or repeated byte.
  constexpr int kBytes = 3 * kQueueSize;
  std::vector<std::uint8_t> data(kBytes);
  for (int i = 0; i < kBytes; ++i)
    data[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i % 251);
  EXPECT_EQ(WriteBuffer(*local, data.data(), kBytes, kArrivalLimitMs), kOk);
  EXPECT_EQ(local->count, kBytes);
  std::vector<std::uint8_t> got(kBytes);
  EXPECT_EQ(ReadBuffer(*remote, got.data(), kBytes, kArrivalLimitMs), kOk);
  EXPECT_EQ(remote->count, kBytes);
  EXPECT_EQ(got, data);
}

TEST_F(Win32DriverTest, WriteBufferNowRefusesMoreThanTheQueueHolds) {
  SerialPort* local = Open(kLocalCom2);
  if (!PairReady(*local)) return;
  SerialPort* remote = OpenOtherEnd();
  ASSERT_EQ(remote->status, kOk);
  std::vector<std::uint8_t> data(kQueueSize + 1, 'w');
  // The queue takes at most its size; the rest is refused with -9 and stays sticky.
  EXPECT_EQ(local->WriteBufferNow(data.data(), kQueueSize + 1), kTxFull);
  const int queued = local->count;
  EXPECT_GT(queued, 0);
  EXPECT_LE(queued, kQueueSize);
  EXPECT_EQ(local->status, kTxFull);
  local->ClearError();
  EXPECT_EQ(local->status, kOk);
  // What was taken arrives whole, and nothing is left on the line for the next test.
  EXPECT_EQ(Receive(*remote, queued), std::string(static_cast<std::size_t>(queued), 'w'));
}

// A long wait on a silent line sleeps on it: the window's messages are served on every mark of
// kServeEveryMs, and a byte that comes ends the wait at once, not at the next mark.
TEST_F(Win32DriverTest, WaitSleepsServesTheWindowAndWakesForAByte) {
  NotedTiming noted;
  SerialPort* local = OpenPort({&factory, &noted}, kLocalCom2, 9600, 'N', 8, 1);
  opened.push_back(local);
  if (!PairReady(*local)) return;
  SerialPort* remote = OpenOtherEnd();
  ASSERT_EQ(remote->status, kOk);
  noted.choreAtPass = kPassesBeforeByte;
  noted.chore = [remote] { remote->WriteChar('x'); };
  EXPECT_EQ(ReadChar(*local, kArrivalLimitMs), 'x');
  const std::uint32_t end = noted.TickMs();
  ASSERT_EQ(noted.passes.size(), kPassesBeforeByte);
  EXPECT_LT(end - noted.passes.back(), kByteWakeMs);
  // The first pass ends at the first mark, however near; the others sleep from mark to mark.
  const std::uint32_t marks = kPassesBeforeByte - 2;
  const std::uint32_t slept = noted.passes.back() - noted.passes[1];
  EXPECT_GE(slept, marks * kShortestSleepMs);
  EXPECT_LE(slept, marks * kServeEveryMs + kPassLateMs);
}

// A message for a window ends a wait on the line at once: a window that keeps setting itself a
// timer is served as fast as it asks, not once a mark.
TEST_F(Win32DriverTest, WindowMessageEndsTheWaitAtOnce) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = EchoProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "ZephorEchoWindow";
  RegisterClassA(&wc);
  HWND window = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                wc.hInstance, nullptr);
  ASSERT_NE(window, nullptr);
  SerialPort* local = Open(kLocalCom2);
  if (!PairReady(*local)) return;
  g_echoes = 0;
  ASSERT_NE(SetTimer(window, kEchoTimer, USER_TIMER_MINIMUM, nullptr), 0u);
  EXPECT_EQ(ReadChar(*local, kEchoWaitMs), kTimeout);
  EXPECT_EQ(g_echoes, kEchoes);
  DestroyWindow(window);
}

TEST_F(Win32DriverTest, LineStatusAccumulatesUntilCleared) {
  SerialPort* p = Open(kLocalCom2);
  if (!PairReady(*p)) return;
  // A clean line shows no errors; clearing keeps it so and succeeds.
  EXPECT_EQ(p->LineStatus(), 0);
  EXPECT_EQ(p->ClearLineStatus(), kOk);
  EXPECT_EQ(p->LineStatus(), 0);
  EXPECT_EQ(p->status, kOk);
}

TEST_F(Win32DriverTest, SendBreakHoldsForItsTimeAndReturnsZero) {
  SerialPort* p = Open(kLocalCom2);
  if (!PairReady(*p)) return;
  constexpr int kBreakMs = 250;
  const std::uint32_t start = timing.TickMs();
  EXPECT_EQ(p->SendBreak(kBreakMs), kOk);
  EXPECT_GE(timing.TickMs() - start, static_cast<std::uint32_t>(kBreakMs));
}

TEST_F(Win32DriverTest, ClosedPortCanBeOpenedAgain) {
  SerialPort* p = Open(kLocalCom2);
  if (!PairReady(*p)) return;
  EXPECT_EQ(CloseEarly(p), kOk);
  EXPECT_EQ(OpenPortCount(), 0);
  SerialPort* again = Open(kLocalCom2);
  EXPECT_EQ(again->status, kOk);
  EXPECT_EQ(OpenPortCount(), 1);
}

TEST_F(Win32DriverTest, SecondOpenOfHeldPortGivesInUse) {
  if (RunningUnderWine()) {
    GTEST_SKIP() << "Windows only: Wine lets a second handle open a COM port another one holds";
  }
  SerialPort* first = Open(kLocalCom2);
  if (!PairReady(*first)) return;
  SerialPort* second = Open(kLocalCom2);
  EXPECT_EQ(second->status, kPortInUse);
  // Access denied on a COM port means another handle has it: said as in use, not as permissions.
  EXPECT_EQ(OpenStatusText(second->status, second->refusal),
            std::string("in use by another program"));
  EXPECT_EQ(CloseEarly(second), kOk);
}

TEST_F(Win32DriverTest, DtrAndRtsReachTheOtherEndsModemLines) {
  if (RunningUnderWine()) {
    GTEST_SKIP() << "Windows only: a pseudo-terminal has no modem lines (Wine's "
                    "GetCommModemStatus fails with error 50)";
  }
  SerialPort* local = Open(kLocalCom2);
  if (!PairReady(*local)) return;
  SerialPort* remote = OpenOtherEnd();
  ASSERT_EQ(remote->status, kOk);
  // A null-modem cable joins DTR to DSR and RTS to CTS.
  EXPECT_EQ(remote->ModemStatus() & (kModemDsr | kModemCts), kModemDsr | kModemCts);
  EXPECT_EQ(local->SetDtr(false), kOk);
  EXPECT_EQ(local->SetRts(false), kOk);
  EXPECT_EQ(remote->ModemStatus() & (kModemDsr | kModemCts), 0);
  // Closing drops both outputs too.
  EXPECT_EQ(local->SetDtr(true), kOk);
  EXPECT_EQ(local->SetRts(true), kOk);
  EXPECT_EQ(remote->ModemStatus() & (kModemDsr | kModemCts), kModemDsr | kModemCts);
  EXPECT_EQ(CloseEarly(local), kOk);
  EXPECT_EQ(remote->ModemStatus() & (kModemDsr | kModemCts), 0);
}

}  // namespace
}  // namespace zephor::serial
