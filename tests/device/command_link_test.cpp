// The command link: one command exchange, the wait for READY and the opening of a port.
#include "device/command_link.h"

#include "device_fixture.h"
#include "serial/status_codes.h"

namespace zephor::device {
namespace {

class CommandLinkTest : public DeviceFixture {
 protected:
  void SetUp() override {
    DeviceFixture::SetUp();
    port = OpenCommandPort(station.ports, 0);
  }
  void TearDown() override {
    if (port != nullptr) serial::ClosePort(port);
    DeviceFixture::TearDown();
  }
  serial::SerialPort* port = nullptr;
};

TEST_F(CommandLinkTest, OpensAt9600AndDropsWaitingInput) {
  EXPECT_EQ(port->status, serial::kOk);
  EXPECT_EQ(line.baud, 9600);
  EXPECT_TRUE(line.dtr);
  EXPECT_TRUE(line.rts);
}

TEST_F(CommandLinkTest, SilentInstrumentCostsTwoHalfSecondsAndGivesEmptyReply) {
  EXPECT_EQ(SendCommand(*port, "UNLOCK", kLineFeed), "");
  EXPECT_EQ(timing.now(), 500u + 500u);
  EXPECT_EQ(port->status, serial::kOk);  // a time-out is not sticky
  EXPECT_EQ(instrument.received, "UNLOCK\n");
}

TEST_F(CommandLinkTest, PromptAfterReplyIsConsumed) {
  instrument.Answer("UNLOCK", kOkPrompt);
  EXPECT_EQ(SendCommand(*port, "UNLOCK", kLineFeed), "OK");
  EXPECT_TRUE(line.toHost.empty());
  EXPECT_LT(timing.now(), 10u);
}

TEST_F(CommandLinkTest, CarriageReturnStaysInReply) {
  instrument.Answer("UNLOCK", "OK\r\n");
  EXPECT_EQ(SendCommand(*port, "UNLOCK", kLineFeed), "OK\r");
  // No prompt follows, so the wait for it runs its full limit.
  EXPECT_EQ(timing.now(), 1u + 500u);
}

TEST_F(CommandLinkTest, NineteenCharacterReplyIsBufferFullAndSticky) {
  instrument.Answer("UNLOCK", "0123456789012345678\n>");
  EXPECT_EQ(SendCommand(*port, "UNLOCK", kLineFeed), "ERROR");
  EXPECT_EQ(port->status, serial::kBufferFull);
  // The next command goes out without its line feed and fails at once.
  EXPECT_EQ(SendCommand(*port, "LOCK", kLineFeed), "ERROR");
  timing.Advance(2);
  EXPECT_EQ(instrument.pending, "LOCK");
}

TEST_F(CommandLinkTest, EighteenCharacterReplyFits) {
  instrument.Answer("UNLOCK", "012345678901234567\n>");
  EXPECT_EQ(SendCommand(*port, "UNLOCK", kLineFeed), "012345678901234567");
  EXPECT_EQ(port->status, serial::kOk);
}

using MissingPortTest = DeviceFixture;

TEST_F(MissingPortTest, SendCommandReturnsError) {
  serial::PortHandle port(OpenCommandPort(station.ports, 3));
  EXPECT_LT(port->status, 0);
  EXPECT_EQ(SendCommand(*port, "UNLOCK", kLineFeed), "ERROR");
}

TEST_F(MissingPortTest, WaitReadyIsFalse) { EXPECT_FALSE(WaitReady(station.ports, 3)); }

using WaitReadyTest = DeviceFixture;

TEST_F(WaitReadyTest, ReadyWithLineEndIsTrueAfterFullLimit) {
  instrument.SendAt(200, "READY\r\n");
  EXPECT_TRUE(WaitReady(station.ports, 0));
  EXPECT_EQ(timing.now(), 15000u);  // seven bytes never fill the ten asked for
}

TEST_F(WaitReadyTest, SilenceIsFalseAfterFullLimit) {
  EXPECT_FALSE(WaitReady(station.ports, 0));
  EXPECT_EQ(timing.now(), 15000u);
}

TEST_F(WaitReadyTest, TenBytesEndTheWaitEarly) {
  instrument.SendAt(300, "READY\r\n>>>");
  EXPECT_TRUE(WaitReady(station.ports, 0));
  EXPECT_EQ(timing.now(), 300u);
}

TEST_F(WaitReadyTest, FewerThanFiveBytesNeverMatch) {
  instrument.SendAt(10, "REA");
  EXPECT_FALSE(WaitReady(station.ports, 0));
}

TEST_F(WaitReadyTest, OtherTextIsFalse) {
  instrument.SendAt(10, "READX\r\n");
  EXPECT_FALSE(WaitReady(station.ports, 0));
}

}  // namespace
}  // namespace zephor::device
