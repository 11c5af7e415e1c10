// Opening and closing ports: the not-supported table, status codes, the open-ports list.
#include "line_fixture.h"

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
  } cases[] = {{9600, 'x', 1, kBadParity}, {9600, 'N', 3, kBadStopBits},
               {230400, 'N', 1, kBadBaudRate}, {115200, 'e', 2, kOk}};
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
