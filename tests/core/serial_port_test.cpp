// Opening and closing ports: the not-supported table, status codes, the open-ports list.
#include "line_fixture.h"
#include "serial/line_settings.h"

namespace zephor::serial {
namespace {

TEST(SerialPortTest, MissingPortFailsEveryOperationWithNotSupported) {
  MemoryPortFactory factory;
  VirtualTiming timing;
  SerialPort* port = OpenPort({&factory, &timing}, 3, 9600, 'N', 8, 1);
  ASSERT_NE(port, nullptr);
  EXPECT_EQ(port->status, kNoHardware);
  EXPECT_EQ(port->RxUsed(), kNotSupported);
  EXPECT_EQ(port->status, kNotSupported);
  port->ClearError();
  EXPECT_EQ(port->status, kOk);
  std::uint8_t buf[4];
  EXPECT_EQ(ReadBuffer(*port, buf, 4, 1000), kNotSupported);
  EXPECT_EQ(ReadChar(*port, 1000), kNotSupported);
  EXPECT_EQ(WriteString(*port, "UNLOCK", 10), kNotSupported);
  EXPECT_EQ(timing.now(), 0u);  // never waits on a dead port
  EXPECT_EQ(ClosePort(port), kOk);
}

TEST(SerialPortTest, DumpOnPortWithoutDriver) {
  MemoryPortFactory factory;
  VirtualTiming timing;
  PortHandle port(OpenPort({&factory, &timing}, 0, 9600, 'N', 8, 1));
  std::vector<std::string> lines;
  EXPECT_EQ(port->DumpPort([&](const std::string& s) { lines.push_back(s); }), kNotSupported);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Port dump not supported for this driver");
  EXPECT_EQ(lines[1], "");
}

// The one layout of the port dump and the one check of SetLine's arguments, which both drivers
// use: each row a line's settings and state, and the dump line it must give.
struct DumpRow {
  const char* name;
  void (*set)(DeviceControl&, LineState&);
  std::size_t line;  // of the ten
  const char* expected;
};

void PrintTo(const DumpRow& row, std::ostream* out) { *out << row.name; }

class PortDumpTest : public ::testing::TestWithParam<DumpRow> {};

TEST_P(PortDumpTest, LaysOutTheLine) {
  const DumpRow& row = GetParam();
  DeviceControl control;
  LineState state;
  ASSERT_EQ(TakeLineArguments(control, 9600, 'n', 8, 1), kOk);
  row.set(control, state);
  std::vector<std::string> lines;
  PrintPortDump(control, state, [&](const std::string& s) { lines.push_back(s); });
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[0], "");
  EXPECT_EQ(lines[row.line], row.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PortDumpTest,
    ::testing::Values(
        DumpRow{"AsOpened", [](DeviceControl&, LineState&) {}, 1,
                "Port type:  MS Windows  DCB BaudRate: 9600    ByteSize: 8  Parity: 0"},
        DumpRow{"OutputsRaised", [](DeviceControl&, LineState&) {}, 2,
                "StopBits: 0 fBinary: 1  fRtsControl: 1"},
        DumpRow{"FlowCharacters", [](DeviceControl&, LineState&) {}, 4,
                "Null: 0  DtrControl: 1  RtsControl: 1  XonChar: 11  XoffChar: 13"},
        DumpRow{"FlowLimits", [](DeviceControl&, LineState&) {}, 5,
                "XonLim: 262   XoffLim: 262   EofChr: 00  EvtChr: 00"},
        DumpRow{"QueuesAndLineStatus",
                [](DeviceControl&, LineState& s) {
                  s.rxUsed = 12;
                  s.txUsed = 3;
                  s.lineStatus = kLineBreak | kLineParity;
                },
                6, "RX count/free:    12/1038   TX count/free:     3/1047   BREAK/FE/OE/PE: 1001"},
        DumpRow{"GatheredErrors",
                [](DeviceControl&, LineState& s) { s.lineErrors = kErrFrame | kErrMode; }, 7,
                "CE_BREAK:0  CE_FRAME:1  CE_MODE:1 CE_OVERRUN:0"},
        DumpRow{"ModemLines",
                [](DeviceControl&, LineState& s) {
                  s.lineErrors = kErrTxFull;
                  s.modem = kModemCts | kModemCarrier;
                },
                8, "CE_RXOVER:0 CE_RXPARITY:0 CE_TXFULL:1  CTS/DSR/RI/CD: 1001"},
        DumpRow{"NoUart", [](DeviceControl&, LineState&) {}, 9, "8250:0000"},
        // A character field above 0x7F goes out widened as a signed value.
        DumpRow{"SignedCharacter", [](DeviceControl& d, LineState&) { d.EofChar = '\xff'; }, 5,
                "XonLim: 262   XoffLim: 262   EofChr: ffffffff  EvtChr: 00"}),
    [](const ::testing::TestParamInfo<DumpRow>& info) { return info.param.name; });

// A refused argument leaves what came before it stored, and its own field as it was.
TEST(LineArgumentsTest, ARefusalKeepsWhatCameBefore) {
  DeviceControl control;
  EXPECT_EQ(TakeLineArguments(control, 115201, 'E', 7, 2), kBadBaudRate);
  EXPECT_EQ(control.BaudRate, 0);
  EXPECT_EQ(TakeLineArguments(control, 4800, 'X', 7, 2), kBadParity);
  EXPECT_EQ(control.BaudRate, 4800);
  EXPECT_EQ(control.ByteSize, 7);
  EXPECT_EQ(control.Parity, kNoParity);
  EXPECT_EQ(TakeLineArguments(control, 4800, 's', 7, 3), kBadStopBits);
  EXPECT_EQ(control.Parity, kSpaceParity);
  EXPECT_EQ(control.StopBits, kOneStopBit);
  EXPECT_EQ(TakeLineArguments(control, 4800, 'm', 7, 2), kOk);
  EXPECT_EQ(control.StopBits, kTwoStopBits);
}

TEST(SerialPortTest, SecondOpenOfHeldPortIsInUse) {
  MemoryLine line;
  MemoryPortFactory factory;
  factory.AddLine(0, &line);
  VirtualTiming timing;
  PortHandle first(OpenPort({&factory, &timing}, 0, 9600, 'n', 8, 1));
  EXPECT_EQ(first->status, kOk);
  EXPECT_TRUE(line.dtr && line.rts);
  PortHandle second(OpenPort({&factory, &timing}, 0, 9600, 'N', 8, 1));
  EXPECT_EQ(second->status, kPortInUse);
  EXPECT_EQ(first.Close(), kOk);
  EXPECT_FALSE(line.dtr || line.rts);
}

TEST(SerialPortTest, LineArgumentsAreChecked) {
  MemoryLine line;
  MemoryPortFactory factory;
  factory.AddLine(0, &line);
  VirtualTiming timing;
  struct Case {
    long baud;
    char parity;
    int stop;
    int status;
  } cases[] = {{9600, 'x', 1, kBadParity},
               {9600, 'N', 3, kBadStopBits},
               {230400, 'N', 1, kBadBaudRate},
               {115200, 'e', 2, kOk}};
  for (const auto& c : cases) {
    PortHandle port(OpenPort({&factory, &timing}, 0, c.baud, c.parity, 8, c.stop));
    EXPECT_EQ(port->status, c.status) << c.baud << c.parity << c.stop;
  }
}

TEST(SerialPortTest, OpenPortsListClosesNewestFirst) {
  MemoryLine a, b;
  MemoryPortFactory factory;
  factory.AddLine(0, &a);
  factory.AddLine(1, &b);
  VirtualTiming timing;
  const int before = OpenPortCount();
  OpenPort({&factory, &timing}, 0, 9600, 'N', 8, 1);
  OpenPort({&factory, &timing}, 1, 9600, 'N', 8, 1);
  OpenPort({&factory, &timing}, 2, 9600, 'N', 8, 1);  // failed ports are listed too
  EXPECT_EQ(OpenPortCount(), before + 3);
  CloseAllPorts();
  EXPECT_EQ(OpenPortCount(), 0);
  EXPECT_FALSE(a.deviceHeld || b.deviceHeld);
}

}  // namespace
}  // namespace zephor::serial
