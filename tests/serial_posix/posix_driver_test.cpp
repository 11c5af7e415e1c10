// The termios driver on pseudo-terminals: opening, line settings, moving bytes, diagnostics,
// and a line that hangs up in the middle of a wait.
#include "serial/posix_driver.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/open_failure_report.h"
#include "device/command_link.h"
#include "pseudo_terminal.h"
#include "serial/line_trace.h"
#include "serial/memory_line.h"
#include "serial/system_timing.h"
#include "serial/timed_io.h"
#include "temp_dir.h"
#include "transfer/crc16.h"
#include "transfer/xmodem.h"

namespace zephor::serial {
namespace {

// Waits on data the master already sent; never reached unless the line is broken.
constexpr int kArrivalLimitMs = 2000;
constexpr int kIdleLimitMs = 20;
// How long an operation waits before its line hangs up, and how soon after it must end.
constexpr std::uint32_t kUnplugAfterMs = 200;
constexpr std::uint32_t kEndAfterUnplugMs = 1000;
// A wait on a silent line: the pass after which a byte comes, how late a busy machine may wake
// a pass past its mark, the least a sleeping pass lasts, and how soon after it came the byte
// ends the wait.
constexpr std::size_t kPassesBeforeByte = 8;
constexpr std::uint32_t kPassLateMs = 30;
constexpr std::uint32_t kShortestSleepMs = 40;
constexpr std::uint32_t kByteWakeMs = 20;
// A block of a transfer that comes a byte a millisecond, as at 9600 baud, and the most passes of
// the wait that reads it: a wait that woke for each byte would take one a byte.
constexpr int kPacedBlock = 128;
constexpr int kMostPassesForTheBlock = kPacedBlock / 8;
// A waiting operation sleeps in the system: its CPU time is a small share of the time it took.
constexpr long kCpuShareDivisor = 4;
constexpr long kCpuMarginMs = 20;

// Real time whose idle hook pulls the plug once the operation has waited a while.
class UnplugTiming final : public Timing {
 public:
  explicit UnplugTiming(PseudoTerminal& pty) : pty_(pty), start_(real_.TickMs()) {}
  std::uint32_t TickMs() override { return real_.TickMs(); }
  void IdleFor(SerialPort* port, std::uint32_t maxMs) override {
    if (!unplugged_ && TickMs() - start_ >= kUnplugAfterMs) {
      pty_.Hangup();
      unplugged_ = true;
      unpluggedAt_ = TickMs();
    }
    real_.IdleFor(port, maxMs);
  }
  void SleepMs(std::uint32_t ms) override { real_.SleepMs(ms); }
  bool unplugged() const { return unplugged_; }
  std::uint32_t unpluggedAt() const { return unpluggedAt_; }

 private:
  SystemTiming real_;
  PseudoTerminal& pty_;
  std::uint32_t start_;
  bool unplugged_ = false;
  std::uint32_t unpluggedAt_ = 0;
};

// Runs act with an ordinary user's file permissions when asked: root opens every device whatever
// its mode. False, without acting, when root cannot take them here.
bool AsOrdinaryUser(bool ordinary, const std::function<void()>& act) {
  if (!ordinary || geteuid() != 0) {
    act();
    return true;
  }
  const passwd* nobody = getpwnam("nobody");
  if (nobody == nullptr || seteuid(nobody->pw_uid) != 0) return false;
  act();
  EXPECT_EQ(seteuid(0), 0);
  return true;
}

// User and system time of this process in milliseconds.
long CpuMs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto ms = [](const timeval& t) { return t.tv_sec * 1000L + t.tv_usec / 1000L; };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

class PosixDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.ok());
    pty.ServeAsCom1();
  }
  void TearDown() override {
    for (SerialPort* p : opened) ClosePort(p);
    unsetenv("ZEPHOR_COM1");
  }
  SerialPort* Open(long baud = 9600, char parity = 'N', int dataBits = 8, int stopBits = 1) {
    SerialPort* p = OpenPort(env, 0, baud, parity, dataBits, stopBits);
    opened.push_back(p);
    return p;
  }
  SerialPort* OpenGood() {
    SerialPort* p = Open();
    EXPECT_EQ(p->status, kOk);
    return p;
  }
  // Closes a port of this test before the end, so TearDown does not close it again.
  int CloseEarly(SerialPort* p) {
    std::erase(opened, p);
    return ClosePort(p);
  }
  std::vector<std::string> Dump(SerialPort& p) {
    std::vector<std::string> lines;
    EXPECT_EQ(p.DumpPort([&](const std::string& s) { lines.push_back(s); }), kOk);
    return lines;
  }

  PseudoTerminal pty;
  PosixPortFactory factory;
  SystemTiming timing;
  PortEnvironment env{&factory, &timing};
  std::vector<SerialPort*> opened;
};

TEST(PosixDevicePathTest, EnvironmentNamesTheDeviceElseTtyS) {
  unsetenv("ZEPHOR_COM3");
  EXPECT_EQ(PosixDevicePath(2), "/dev/ttyS2");
  setenv("ZEPHOR_COM3", "/dev/pts/77", 1);
  EXPECT_EQ(PosixDevicePath(2), "/dev/pts/77");
  unsetenv("ZEPHOR_COM3");
}

TEST_F(PosixDriverTest, MissingDeviceGivesNoHardwareAndStillCloses) {
  setenv("ZEPHOR_COM1", "/nonexistent/zephor-tty", 1);
  SerialPort* p = Open();
  EXPECT_EQ(p->status, kNoHardware);
  EXPECT_EQ(p->RxUsed(), kNotSupported);
  EXPECT_EQ(CloseEarly(p), kOk);
}

// A refused open tells its cause in the words the command line prints: a port that another open
// holds, named with the program that holds it (here this one), and a device whose permissions
// keep this user out (a user outside the group dialout).
TEST_F(PosixDriverTest, RefusedOpensSayWhy) {
  struct Case {
    const char* name;
    bool held;    // another open holds the port
    bool denied;  // the device's permissions let no one in; opened as an ordinary user
    std::string words;
  };
  std::string ownName;
  std::getline(std::ifstream("/proc/self/comm"), ownName);
  const Case cases[] = {
      {"HeldByAnotherOpen", true, false,
       "in use by " + ownName + " (process " + std::to_string(getpid()) + ")"},
      {"NoPermission", false, true,
       "permission denied; add your user to the dialout group (sudo usermod -aG dialout $USER) "
       "and log in again"},
  };
  struct stat device {};
  ASSERT_EQ(stat(pty.slavePath().c_str(), &device), 0);
  for (const Case& c : cases) {
    SerialPort* holder = c.held ? OpenGood() : nullptr;
    if (c.denied) {
      ASSERT_EQ(chmod(pty.slavePath().c_str(), 0), 0) << c.name;
    }
    std::ostringstream said;
    app::OpenFailureReport report(factory, said);
    SerialPort* refused = nullptr;
    const bool acted = AsOrdinaryUser(c.denied, [&] {
      refused = OpenPort({&report, &timing}, 0, 9600, 'N', 8, 1);
    });
    if (!acted) GTEST_SKIP() << "root here cannot take an ordinary user's permissions";
    EXPECT_EQ(refused->status, kPortInUse) << c.name;
    EXPECT_EQ(said.str(), "COM1 is " + pty.slavePath() + ": " + c.words + " (status -3)\n")
        << c.name;
    EXPECT_EQ(ClosePort(refused), kOk) << c.name;
    if (holder != nullptr) {
      EXPECT_EQ(CloseEarly(holder), kOk) << c.name;
    }
    ASSERT_EQ(chmod(pty.slavePath().c_str(), device.st_mode & 07777), 0) << c.name;
    // Once released or allowed, the port can be had again.
    EXPECT_EQ(CloseEarly(OpenGood()), kOk) << c.name;
  }
}

TEST_F(PosixDriverTest, RefusedLineArguments) {
  struct Case {
    long baud;
    char parity;
    int dataBits;
    int stopBits;
    int expected;
  };
  const Case cases[] = {
      {9600, 'x', 8, 1, kBadParity},     {9600, 'N', 8, 3, kBadStopBits},
      {230400, 'N', 8, 1, kBadBaudRate}, {14400, 'N', 8, 1, kBadBaudRate},
      {9600, 'N', 9, 1, kBadDataBits},
  };
  for (const Case& c : cases) {
    SerialPort* p = Open(c.baud, c.parity, c.dataBits, c.stopBits);
    EXPECT_EQ(p->status, c.expected) << c.baud << ' ' << c.parity << ' ' << c.stopBits;
    EXPECT_EQ(CloseEarly(p), kOk);
  }
}

TEST_F(PosixDriverTest, ParityLettersAreCaseInsensitive) {
  const char letters[] = {'n', 'N', 'e', 'E', 'o', 'O', 'm', 'M', 's', 'S'};
  const char codes[] = {'0', '0', '2', '2', '1', '1', '3', '3', '4', '4'};
  for (std::size_t i = 0; i < sizeof letters; ++i) {
    SerialPort* p = Open(9600, letters[i], 8, 1);
    EXPECT_EQ(p->status, kOk) << letters[i];
    const auto lines = Dump(*p);
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[1].back(), codes[i]) << letters[i];
    EXPECT_EQ(CloseEarly(p), kOk);
  }
}

TEST_F(PosixDriverTest, DumpAfterOpenShowsTheApplicationSettings) {
  SerialPort* p = OpenGood();
  const std::vector<std::string> expected = {
      "",
      "Port type:  MS Windows  DCB BaudRate: 9600    ByteSize: 8  Parity: 0",
      "StopBits: 0 fBinary: 1  fRtsControl: 1",
      "Parity: 0  OutCtsFlow: 0  OutDsrFlow: 0  DtrControl: 1  OutX: 0  InX: 0",
      "Null: 0  DtrControl: 1  RtsControl: 1  XonChar: 11  XoffChar: 13",
      "XonLim: 262   XoffLim: 262   EofChr: 00  EvtChr: 00",
      "RX count/free:     0/1050   TX count/free:     0/1050   BREAK/FE/OE/PE: 0000",
      "CE_BREAK:0  CE_FRAME:0  CE_MODE:0 CE_OVERRUN:0",
      "CE_RXOVER:0 CE_RXPARITY:0 CE_TXFULL:0  CTS/DSR/RI/CD: 0000",
      "8250:0000",
  };
  EXPECT_EQ(Dump(*p), expected);
}

TEST_F(PosixDriverTest, TwoStopBitsShowAsCodeTwo) {
  SerialPort* p = Open(19200, 'E', 7, 2);
  ASSERT_EQ(p->status, kOk);
  const auto lines = Dump(*p);
  EXPECT_EQ(lines[1], "Port type:  MS Windows  DCB BaudRate: 19200   ByteSize: 7  Parity: 2");
  EXPECT_EQ(lines[2], "StopBits: 2 fBinary: 1  fRtsControl: 1");
}

TEST_F(PosixDriverTest, FlowControlSwitchesChangeTheirFields) {
  SerialPort* p = OpenGood();
  EXPECT_EQ(p->SetXonXoff(true), kOk);
  EXPECT_EQ(p->SetRtsCts(true), kOk);
  EXPECT_EQ(p->SetDtrDsr(true), kOk);
  auto lines = Dump(*p);
  EXPECT_EQ(lines[3], "Parity: 0  OutCtsFlow: 1  OutDsrFlow: 1  DtrControl: 2  OutX: 1  InX: 1");
  EXPECT_EQ(lines[2], "StopBits: 0 fBinary: 1  fRtsControl: 2");
  // Switching the handshakes off drops the lines rather than raising them.
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

TEST_F(PosixDriverTest, PseudoTerminalHasNoModemLinesOrLineErrors) {
  SerialPort* p = OpenGood();
  EXPECT_EQ(p->ModemStatus(), 0);
  EXPECT_EQ(p->LineStatus(), 0);
  EXPECT_EQ(p->ClearLineStatus(), kOk);
  EXPECT_EQ(p->LineStatus(), 0);
  EXPECT_EQ(p->status, kOk);
}

TEST_F(PosixDriverTest, WrittenBytesArriveAtTheMaster) {
  SerialPort* p = OpenGood();
  EXPECT_EQ(p->TxFree(), kQueueSize);
  EXPECT_EQ(WriteString(*p, "UNLOCK", 10), kOk);
  EXPECT_EQ(pty.Receive(7, kArrivalLimitMs), "UNLOCK\n");
  EXPECT_EQ(p->WriteChar('Z'), kOk);
  EXPECT_EQ(pty.Receive(1, kArrivalLimitMs), "Z");
}

TEST_F(PosixDriverTest, BytesFromTheMasterAreRead) {
  SerialPort* p = OpenGood();
  ASSERT_TRUE(pty.Send("A0123456789"));
  EXPECT_EQ(ReadChar(*p, kArrivalLimitMs), 'A');
  std::uint8_t buffer[10] = {};
  EXPECT_EQ(ReadBuffer(*p, buffer, 10, kArrivalLimitMs), kOk);
  EXPECT_EQ(p->count, 10);
  EXPECT_EQ(std::string(buffer, buffer + 10), "0123456789");
  EXPECT_EQ(p->status, kOk);
}

// A long wait on a silent line sleeps on it: the window's events are served on every mark of
// kServeEveryMs (20 times a second), and a byte that comes ends the wait at once, not at the
// next mark.
TEST_F(PosixDriverTest, WaitSleepsServesTheWindowAndWakesForAByte) {
  SystemTiming clock;
  std::vector<std::uint32_t> servedAt;
  SystemTiming window([&] {
    servedAt.push_back(clock.TickMs());
    if (servedAt.size() == kPassesBeforeByte) pty.Send("x");
  });
  env.timing = &window;
  SerialPort* p = OpenGood();
  EXPECT_EQ(ReadChar(*p, kArrivalLimitMs), 'x');
  const std::uint32_t end = clock.TickMs();
  ASSERT_EQ(servedAt.size(), kPassesBeforeByte);
  EXPECT_LT(end - servedAt.back(), kByteWakeMs);
  // The first pass ends at the first mark, however near; the others sleep from mark to mark, so
  // a late wake does not put the next ones off.
  const std::uint32_t marks = kPassesBeforeByte - 2;
  EXPECT_GE(servedAt.back() - servedAt[1], marks * kShortestSleepMs);
  EXPECT_LE(servedAt.back() - servedAt[1], marks * kServeEveryMs + kPassLateMs);
}

// A block read byte after byte within a limit for each, as a transfer reads it: the wait sleeps
// on after the first byte for the time the rest take on the line, so a paced block wakes the
// program a few times, not once a byte.
TEST_F(PosixDriverTest, PacedBlockIsReadInAFewPasses) {
  int passes = 0;
  SystemTiming counted([&passes] { ++passes; });
  env.timing = &counted;
  SerialPort* p = OpenGood();
  const std::string block(kPacedBlock, 'b');
  std::thread peer([&] {
    for (char c : block) {
      pty.Send(std::string(1, c));
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  std::vector<std::uint8_t> got(kPacedBlock);
  EXPECT_EQ(ReadBufferEach(*p, got.data(), kPacedBlock, kArrivalLimitMs), kOk);
  peer.join();
  EXPECT_EQ(std::string(got.begin(), got.end()), block);
  EXPECT_LE(passes, kMostPassesForTheBlock);
}

TEST_F(PosixDriverTest, QueueCountsFollowWaitingBytes) {
  SerialPort* p = OpenGood();
  ASSERT_TRUE(pty.Send("0123456789"));
  std::uint8_t first = 0;
  ASSERT_EQ(ReadBuffer(*p, &first, 1, kArrivalLimitMs), kOk);
  // The rest came with the first byte; give the line a moment to hand it all over.
  Delay(*p, kIdleLimitMs);
  EXPECT_EQ(p->RxUsed(), 9);
  EXPECT_EQ(p->RxFree(), kQueueSize - 9);
}

TEST_F(PosixDriverTest, ReadBufferNowOnEmptyLineLeavesStatusAlone) {
  SerialPort* p = OpenGood();
  std::uint8_t buffer[4];
  p->count = 99;
  EXPECT_EQ(p->ReadBufferNow(buffer, 4), kTimeout);
  EXPECT_EQ(p->count, 0);
  EXPECT_EQ(p->ReadCharNow(), kTimeout);
  EXPECT_EQ(p->status, kOk);
  EXPECT_EQ(ReadChar(*p, 0), kTimeout);
}

TEST_F(PosixDriverTest, ReadStringEndsOnCarriageReturnLineFeed) {
  SerialPort* p = OpenGood();
  ASSERT_TRUE(pty.Send("READY\r\n"));
  char text[16];
  EXPECT_EQ(ReadString(*p, text, sizeof text, -2, kArrivalLimitMs), kOk);
  EXPECT_STREQ(text, "READY");
  ASSERT_TRUE(pty.Send("A\rB\r\n"));
  EXPECT_EQ(ReadString(*p, text, sizeof text, -2, kArrivalLimitMs), kOk);
  EXPECT_STREQ(text, "A\rB");
}

TEST_F(PosixDriverTest, ReadStringWithLineFeedTerminatorKeepsCarriageReturn) {
  SerialPort* p = OpenGood();
  ASSERT_TRUE(pty.Send("OK\r\n"));
  char text[16];
  EXPECT_EQ(ReadString(*p, text, sizeof text, 10, kArrivalLimitMs), kOk);
  EXPECT_STREQ(text, "OK\r");
  EXPECT_EQ(p->count, 3);
}

TEST_F(PosixDriverTest, ReadStringBeyondItsBufferGivesBufferFull) {
  SerialPort* p = OpenGood();
  ASSERT_TRUE(pty.Send("ABCDEF"));
  char text[5];
  EXPECT_EQ(ReadString(*p, text, sizeof text, -2, kArrivalLimitMs), kBufferFull);
  EXPECT_STREQ(text, "ABCD");
  EXPECT_EQ(p->status, kBufferFull);
}

TEST_F(PosixDriverTest, WriteBufferBeyondTheQueueCompletesAsTheMasterDrains) {
  SerialPort* p = OpenGood();
  // More than the queue and more than the pseudo-terminal itself buffers.
  constexpr int kTotal = 200000;
  std::vector<std::uint8_t> data(kTotal);
  for (int i = 0; i < kTotal; ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  std::string received;
  std::thread drain([&] { received = pty.Receive(kTotal, kArrivalLimitMs); });
  const int rc = WriteBuffer(*p, data.data(), kTotal, 10 * kArrivalLimitMs);
  drain.join();
  EXPECT_EQ(rc, kOk);
  EXPECT_EQ(p->count, kTotal);
  ASSERT_EQ(received.size(), static_cast<std::size_t>(kTotal));
  EXPECT_TRUE(std::equal(data.begin(), data.end(), received.begin(),
                         [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); }));
}

TEST_F(PosixDriverTest, WriteBufferNowTakesAtMostTheFreeQueue) {
  SerialPort* p = OpenGood();
  std::vector<std::uint8_t> data(kQueueSize + 100, 'x');
  EXPECT_EQ(p->WriteBufferNow(data.data(), static_cast<int>(data.size())), kTxFull);
  EXPECT_EQ(p->count, kQueueSize);
  EXPECT_EQ(p->status, kTxFull);
  EXPECT_EQ(pty.Receive(kQueueSize, kArrivalLimitMs).size(), static_cast<std::size_t>(kQueueSize));
}

TEST_F(PosixDriverTest, FlushRxBufferDiscardsWaitingBytes) {
  SerialPort* p = OpenGood();
  EXPECT_EQ(FlushRxBuffer(*p), kOk);
  ASSERT_TRUE(pty.Send(std::string(200, 'q')));
  ASSERT_EQ(ReadChar(*p, kArrivalLimitMs), 'q');
  Delay(*p, kIdleLimitMs);
  ASSERT_GT(p->RxUsed(), 0);
  EXPECT_EQ(FlushRxBuffer(*p), kOk);
  EXPECT_EQ(p->RxUsed(), 0);
  EXPECT_EQ(ReadChar(*p, kIdleLimitMs), kTimeout);
}

TEST_F(PosixDriverTest, ClearTxBufferSucceeds) {
  SerialPort* p = OpenGood();
  EXPECT_EQ(p->ClearTxBuffer(), kOk);
  EXPECT_EQ(p->TxUsed(), 0);
}

TEST_F(PosixDriverTest, SendBreakHoldsForItsTimeWhileIdling) {
  VirtualTiming virtualTime;
  env.timing = &virtualTime;
  SerialPort* p = OpenGood();
  EXPECT_EQ(p->SendBreak(250), kOk);
  EXPECT_GE(virtualTime.now(), 250u);
  EXPECT_GE(virtualTime.idleCalls(), 250);
}

// The far side goes away while an operation waits on the line: the operation fails with the
// lost line's status within a second, sleeping meanwhile, and its port still closes.
TEST_F(PosixDriverTest, HangupEndsEveryWaitAtOnce) {
  const support::TempDir scratch;
  const std::filesystem::path& dir = scratch.path();
  const std::string image = (dir / "image.bin").string();
  std::ofstream(image, std::ios::binary) << std::string(3 * transfer::kShortBlock, 'i');
  // One good block of a sender, so that the receiver is past its start when the plug is pulled.
  std::string block = {static_cast<char>(transfer::kSoh), 1, static_cast<char>(0xFE)};
  const std::string data(transfer::kShortBlock, 'd');
  block += data;
  const unsigned crc =
      transfer::Crc16(data.size(), 0, reinterpret_cast<const std::uint8_t*>(data.data()));
  block += {static_cast<char>(crc >> 8), static_cast<char>(crc & 0xFF)};

  struct Case {
    const char* name;
    std::string ahead;  // what the far side sent before it went away
    // Runs the operation; true when it reported the failure.
    std::function<bool(const PortEnvironment&)> run;
  };
  const Case cases[] = {
      {"XMODEM send waiting for an answer", "C",
       [&](const PortEnvironment& e) {
         SerialPort* p = OpenPort(e, 0, 9600, 'N', 8, 1);
         opened.push_back(p);
         return transfer::SendFile(*p, image) < 0 && p->status == kNoHardware;
       }},
      {"XMODEM receive waiting for its second block", block,
       [&](const PortEnvironment& e) {
         SerialPort* p = OpenPort(e, 0, 9600, 'N', 8, 1);
         opened.push_back(p);
         return transfer::ReceiveFile(*p, (dir / "got.bin").string()) < 0 &&
                p->status == kNoHardware;
       }},
      {"wait for READY", "REA", [](const PortEnvironment& e) { return !device::WaitReady(e, 0); }},
  };
  // Each case also through the line trace, which must pass the loss on and note it.
  for (const bool traced : {false, true}) {
    for (const Case& c : cases) {
      PseudoTerminal line;
      ASSERT_TRUE(line.ok());
      line.ServeAsCom1();
      ASSERT_TRUE(line.Send(c.ahead));
      UnplugTiming unplug(line);
      std::ostringstream traceText;
      LineTrace trace(traceText, [&unplug] { return unplug.TickMs(); });
      TracingPortFactory tracing(factory, trace, {});
      PortFactory* opener = traced ? static_cast<PortFactory*>(&tracing) : &factory;
      const std::uint32_t start = unplug.TickMs();
      const long cpuStart = CpuMs();
      EXPECT_TRUE(c.run({opener, &unplug})) << c.name;
      const long cpu = CpuMs() - cpuStart;
      const std::uint32_t end = unplug.TickMs();
      ASSERT_TRUE(unplug.unplugged()) << c.name;
      EXPECT_LT(end - unplug.unpluggedAt(), kEndAfterUnplugMs) << c.name << " traced " << traced;
      EXPECT_LE(cpu, static_cast<long>(end - start) / kCpuShareDivisor + kCpuMarginMs) << c.name;
      if (traced) {
        EXPECT_NE(traceText.str().find("- lost port 0"), std::string::npos) << c.name;
      }
      for (SerialPort* p : opened) EXPECT_EQ(ClosePort(p), kOk);
      opened.clear();
    }
  }
  for (SerialPort* p : opened) EXPECT_EQ(ClosePort(p), kOk);
  opened.clear();
}

TEST_F(PosixDriverTest, CloseReleasesTheDevice) {
  SerialPort* p = OpenGood();
  EXPECT_EQ(CloseEarly(p), kOk);
  EXPECT_EQ(OpenPortCount(), 0);
}

}  // namespace
}  // namespace zephor::serial
