// The Windows driver against the simulated instrument: under Wine the test run starts the native
// zephor-sim on a pseudo-terminal behind a COM port and names that port in ZEPHOR_SIM_COM.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "device/identify.h"
#include "recording_panel.h"
#include "serial/serial_port.h"
#include "serial/timed_io.h"
#include "serial/win32_driver.h"
#include "serial/win32_timing.h"

namespace zephor::serial {
namespace {

// What the test run starts zephor-sim with (tests/serial_win32/CMakeLists.txt).
constexpr int kSimEquipment = 4242;
constexpr float kSimMain = 1.31f;
constexpr float kSimBoot = 1.2f;
constexpr float kSimUpdate = 1.2f;
constexpr int kSimBuild = 5;
constexpr char kSimGrade[] = "QH";

constexpr int kMissingCom9 = 8;
constexpr int kFirstCom = 1;
constexpr int kLastCom = 256;
// Waits on an answer the simulator sends at once; never reached unless the line is broken.
constexpr int kAnswerLimitMs = 3000;
// How long the queue must stay unchanged before a reply counts as complete.
constexpr int kQuietMs = 200;
constexpr int kDumpLines = 10;
constexpr int kLineSize = 64;
constexpr int kReportSize = 500;
constexpr int kPrompt = '>';

// The port index of the simulator's COM port, or -1 with the reason when there is none.
int SimPortIndex(std::string& reason) {
  const char* name = std::getenv("ZEPHOR_SIM_COM");
  if (name == nullptr || *name == '\0') {
    reason =
        "no simulated instrument: the cross build needs ZEPHOR_NATIVE_SIM (the native "
        "zephor-sim) to put one behind a COM port; scripts/test-windows sets it";
    return -1;
  }
  char* end = nullptr;
  const long number = std::strtol(name, &end, 10);
  if (*end != '\0' || number < kFirstCom || number > kLastCom) {
    reason = std::string("ZEPHOR_SIM_COM must be a COM port number, not \"") + name + "\"";
    return -1;
  }
  return static_cast<int>(number) - 1;
}

class Win32SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string reason;
    simIndex = SimPortIndex(reason);
    if (simIndex < 0) GTEST_SKIP() << reason;
  }
  void TearDown() override {
    for (SerialPort* p : opened) ClosePort(p);
  }
  // The simulator's port at the instrument's settings, emptied of anything a failed earlier
  // test left on it.
  SerialPort* OpenSim() {
    SerialPort* p = OpenPort(env, simIndex, 9600, 'N', 8, 1);
    opened.push_back(p);
    EXPECT_EQ(p->status, kOk) << "COM" << simIndex + 1 << " did not open";
    if (p->status == kOk) {
      EXPECT_EQ(FlushRxBuffer(*p), kOk);
    }
    return p;
  }
  std::vector<std::string> Dump(SerialPort& p) {
    std::vector<std::string> lines;
    p.DumpPort([&](const std::string& s) { lines.push_back(s); });
    return lines;
  }
  std::string ReadLine(SerialPort& p, int terminator) {
    char line[kLineSize] = {};
    EXPECT_EQ(ReadString(p, line, sizeof line, terminator, kAnswerLimitMs), kOk);
    return line;
  }
  // "UNLOCK" is answered "OK", a line feed and the prompt.
  bool Unlock(SerialPort& p) {
    EXPECT_EQ(WriteString(p, "UNLOCK", '\n'), kOk);
    const std::string answer = ReadLine(p, '\n');
    EXPECT_EQ(answer, "OK");
    const int prompt = ReadChar(p, kAnswerLimitMs);
    EXPECT_EQ(prompt, kPrompt);
    return answer == "OK" && prompt == kPrompt;
  }
  // "LOCK" is answered "OK" and CR LF; every test leaves the instrument locked.
  void Lock(SerialPort& p) {
    EXPECT_EQ(WriteString(p, "LOCK", '\n'), kOk);
    EXPECT_EQ(ReadLine(p, -2), "OK");
  }
  // Waits until bytes arrived and then stopped coming; returns how many are queued.
  int WaitForQuiet(SerialPort& p) {
    const std::uint32_t start = timing.TickMs();
    int seen = 0;
    std::uint32_t changed = start;
    while (timing.TickMs() - start < kAnswerLimitMs) {
      const int now = p.RxUsed();
      if (now != seen) {
        seen = now;
        changed = timing.TickMs();
      } else if (seen > 0 && timing.TickMs() - changed >= kQuietMs) {
        break;
      }
      // Bytes already queued must not end the pass: it sleeps, then looks again.
      timing.Idle(nullptr);
    }
    return seen;
  }

  int simIndex = -1;
  Win32PortFactory factory;
  Win32Timing timing;
  PortEnvironment env{&factory, &timing};
  std::vector<SerialPort*> opened;
};

TEST_F(Win32SimTest, OpenShowsTheSettingsAndTheWaitingAnswer) {
  SerialPort* p = OpenSim();
  ASSERT_EQ(p->status, kOk);
  EXPECT_EQ(OpenPortCount(), 1);
  std::vector<std::string> lines = Dump(*p);
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kDumpLines));
  EXPECT_EQ(lines[1], "Port type:  MS Windows  DCB BaudRate: 9600    ByteSize: 8  Parity: 0");
  EXPECT_EQ(lines[2], "StopBits: 0 fBinary: 1  fRtsControl: 1");
  EXPECT_EQ(lines[6].rfind("RX count/free:     0/1050 ", 0), 0u) << lines[6];
  // The unlock answer waits in the receive queue, and the dump counts it.
  ASSERT_EQ(WriteString(*p, "UNLOCK", '\n'), kOk);
  const std::string answer = "OK\n>";
  ASSERT_EQ(WaitForQuiet(*p), static_cast<int>(answer.size()));
  lines = Dump(*p);
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kDumpLines));
  EXPECT_EQ(lines[6].rfind("RX count/free:     4/1046 ", 0), 0u) << lines[6];
  std::uint8_t got[8] = {};
  ASSERT_EQ(p->ReadBufferNow(got, sizeof got), kOk);
  EXPECT_EQ(std::string(got, got + p->count), answer);
  Lock(*p);
  EXPECT_EQ(p->status, kOk);
}

TEST_F(Win32SimTest, MissingPortBesideTheSimGivesNoHardware) {
  SerialPort* sim = OpenSim();
  ASSERT_EQ(sim->status, kOk);
  SerialPort* missing = OpenPort(env, kMissingCom9, 9600, 'N', 8, 1);
  opened.push_back(missing);
  EXPECT_EQ(missing->status, kNoHardware);
  // The failed open takes nothing from the open port.
  EXPECT_EQ(OpenPortCount(), 2);
  EXPECT_TRUE(Unlock(*sim));
  Lock(*sim);
}

TEST_F(Win32SimTest, UnlockIsAnsweredOkAndLockAgain) {
  SerialPort* p = OpenSim();
  ASSERT_EQ(p->status, kOk);
  EXPECT_TRUE(Unlock(*p));
  Lock(*p);
  // A locked instrument ignores everything but UNLOCK.
  ASSERT_EQ(WriteString(*p, "system", '\n'), kOk);
  EXPECT_EQ(ReadChar(*p, kQuietMs), kTimeout);
  EXPECT_EQ(p->RxUsed(), 0);
}

TEST_F(Win32SimTest, SystemReportNamesTheInstrument) {
  SerialPort* p = OpenSim();
  ASSERT_EQ(p->status, kOk);
  ASSERT_TRUE(Unlock(*p));
  ASSERT_EQ(WriteString(*p, "system", '\n'), kOk);
  char report[kReportSize] = {};
  ASSERT_EQ(ReadString(*p, report, sizeof report, kPrompt, kAnswerLimitMs), kOk);
  const std::string text = report;
  EXPECT_NE(text.find("ZEPHOR - " + std::to_string(kSimEquipment)), std::string::npos) << text;
  EXPECT_NE(text.find("MAIN Version         : V1.31   QH"), std::string::npos) << text;
  EXPECT_NE(text.find("BOOT Version         : V1.2"), std::string::npos) << text;
  Lock(*p);
}

TEST_F(Win32SimTest, FlushDropsTheReportAndTheNextAnswerIsClean) {
  SerialPort* p = OpenSim();
  ASSERT_EQ(p->status, kOk);
  ASSERT_TRUE(Unlock(*p));
  ASSERT_EQ(WriteString(*p, "system", '\n'), kOk);
  ASSERT_GT(WaitForQuiet(*p), 0);
  EXPECT_EQ(FlushRxBuffer(*p), kOk);
  EXPECT_EQ(p->RxUsed(), 0);
  EXPECT_EQ(p->ReadCharNow(), kTimeout);
  // Had any of the report stayed, it would be read here in place of the answer to LOCK.
  Lock(*p);
  EXPECT_EQ(p->RxUsed(), 0);
}

TEST_F(Win32SimTest, IdentifyReadsTheVersionsAndGrade) {
  device::RecordingPanel panel;
  device::Station station;
  station.ports = env;
  station.panel = &panel;
  station.portIndex = simIndex;
  device::DeviceInfo info;
  ASSERT_TRUE(device::Identify(station, info)) << panel.log;
  EXPECT_EQ(station.statusText, device::kStatusOk);
  EXPECT_EQ(info.equipmentNumber, kSimEquipment);
  EXPECT_FLOAT_EQ(info.mainVersion, kSimMain);
  EXPECT_FLOAT_EQ(info.bootVersion, kSimBoot);
  EXPECT_FLOAT_EQ(info.updateVersion, kSimUpdate);
  EXPECT_EQ(info.grade, kSimGrade);
  EXPECT_EQ(info.build, kSimBuild);
  EXPECT_EQ(panel.clears, 1);
  // Identify closes its port and leaves the instrument locked.
  EXPECT_EQ(OpenPortCount(), 0);
  SerialPort* p = OpenSim();
  ASSERT_EQ(p->status, kOk);
  ASSERT_EQ(WriteString(*p, "system", '\n'), kOk);
  EXPECT_EQ(ReadChar(*p, kQuietMs), kTimeout);
}

}  // namespace
}  // namespace zephor::serial
