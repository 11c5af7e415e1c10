// Timed reads and writes against an in-memory line on virtual time.
#include <cstring>

#include "line_fixture.h"

namespace zephor::serial {
namespace {

using ReadCharTest = LineFixture;

TEST_F(ReadCharTest, LimitZeroRunsIdleHookOnceThenTimesOut) {
  EXPECT_EQ(ReadChar(*port, 0), kTimeout);
  EXPECT_EQ(timing.idleCalls(), 1);
  EXPECT_EQ(port->status, kOk);  // a time-out is not sticky
}

TEST_F(ReadCharTest, TimesOutExactlyAtLimit) {
  EXPECT_EQ(ReadChar(*port, 500), kTimeout);
  EXPECT_EQ(timing.now(), 500u);
}

TEST_F(ReadCharTest, ReturnsByteThatArrivesLate) {
  peer = [](std::uint32_t now, MemoryLine& l) {
    if (now == 300) l.PeerSend({0xA5});
  };
  EXPECT_EQ(ReadChar(*port, 500), 0xA5);
  EXPECT_EQ(timing.now(), 300u);
}

using ReadBufferTest = LineFixture;

TEST_F(ReadBufferTest, ShortInputTimesOutWithCount) {
  Feed("0123456789");
  std::uint8_t buf[15];
  EXPECT_EQ(ReadBuffer(*port, buf, 15, 1000), kTimeout);
  EXPECT_EQ(port->count, 10);
  EXPECT_EQ(timing.now(), 1000u);
  EXPECT_EQ(std::memcmp(buf, "0123456789", 10), 0);
}

TEST_F(ReadBufferTest, ReturnsAsSoonAsAllBytesAreIn) {
  peer = [](std::uint32_t now, MemoryLine& l) {
    if (now == 10) l.PeerSend({'R', 'E', 'A'});
    if (now == 20) l.PeerSend({'D', 'Y', '\r', '\n', 'x', 'y', 'z', 'w'});
  };
  std::uint8_t buf[10];
  EXPECT_EQ(ReadBuffer(*port, buf, 10, 15000), kOk);
  EXPECT_EQ(port->count, 10);
  EXPECT_EQ(timing.now(), 20u);
  EXPECT_EQ(line.toHost.size(), 1u);
}

using ReadStringTest = LineFixture;

struct LineCase {
  const char* input;
  int terminator;
  const char* expected;
  int result;
};

TEST_F(ReadStringTest, CarriageReturnRules) {
  const LineCase cases[] = {
      {"READY\r\n", -2, "READY", kOk},
      {"OK\r\n", 10, "OK\r", kOk},
      {"A\rB\r\n", -2, "A\rB", kOk},
      {"AB\n", 10, "AB", kOk},
      {"A\r\rB\n", 10, "A\r\rB", kOk},
      {"A\r\n", -1, "A", kOk},
      {"A\r", 10, "A\r", kTimeout},  // held-back CR stored at time-out
      {"A\r", -2, "A", kTimeout},
  };
  for (const auto& c : cases) {
    line.toHost.clear();
    Feed(c.input);
    char buf[20];
    EXPECT_EQ(ReadString(*port, buf, sizeof buf, c.terminator, 100), c.result) << c.input;
    EXPECT_STREQ(buf, c.expected) << c.input;
    EXPECT_EQ(port->count, static_cast<int>(std::strlen(c.expected)));
  }
}

TEST_F(ReadStringTest, SixCharactersIntoSizeFiveIsBufferFull) {
  Feed("ABCDEF");
  char buf[5];
  EXPECT_EQ(ReadString(*port, buf, 5, 10, 500), kBufferFull);
  EXPECT_STREQ(buf, "ABCD");
  EXPECT_EQ(port->status, kBufferFull);
}

TEST_F(ReadStringTest, NineteenthCharacterBeforeLineFeedIsBufferFull) {
  Feed("0123456789012345678\n");
  char buf[19];
  EXPECT_EQ(ReadString(*port, buf, 19, 10, 500), kBufferFull);
  EXPECT_EQ(std::strlen(buf), 18u);
  // sticky: a later complete line returns the earlier failure
  line.toHost.clear();
  Feed("OK\n");
  EXPECT_EQ(ReadString(*port, buf, 19, 10, 500), kBufferFull);
  EXPECT_STREQ(buf, "OK");
}

TEST_F(ReadStringTest, HeldCarriageReturnWithoutRoomAtTimeoutIsBufferFull) {
  Feed("ABCD\r");
  char buf[5];
  EXPECT_EQ(ReadString(*port, buf, 5, 10, 50), kBufferFull);
}

TEST_F(ReadStringTest, BadArguments) {
  char buf[4];
  EXPECT_EQ(ReadString(*port, buf, 1, 10, 50), kBadArgument);
  port->ClearError();
  EXPECT_EQ(ReadString(*port, buf, 4, 256, 50), kBadArgument);
  port->ClearError();
  EXPECT_EQ(ReadString(*port, buf, 4, -3, 50), kBadArgument);
}

TEST_F(ReadStringTest, LateLineWaitsOnVirtualClock) {
  peer = [](std::uint32_t now, MemoryLine& l) {
    if (now == 499) l.PeerSend({'O', 'K', '\n'});
  };
  char buf[19];
  EXPECT_EQ(ReadString(*port, buf, 19, 10, 500), kOk);
  EXPECT_STREQ(buf, "OK");
}

using WriteTest = LineFixture;

TEST_F(WriteTest, WriteStringTerminators) {
  EXPECT_EQ(WriteString(*port, "UNLOCK", 10), kOk);
  EXPECT_EQ(WriteString(*port, "A", -2), kOk);
  EXPECT_EQ(WriteString(*port, "B", -1), kOk);
  timing.Advance(1);
  EXPECT_EQ(Sent(), "UNLOCK\nA\r\nB");
}

TEST_F(WriteTest, WriteStringBadTerminatorSendsNothing) {
  EXPECT_EQ(WriteString(*port, "X", 256), kBadArgument);
  EXPECT_EQ(port->status, kBadArgument);
  timing.Advance(1);
  EXPECT_EQ(Sent(), "");
}

TEST_F(WriteTest, WriteStringAfterStickyFailureLeavesOutTerminator) {
  port->status = kBufferFull;
  EXPECT_EQ(WriteString(*port, "LOCK", 10), kBufferFull);
  timing.Advance(1);
  EXPECT_EQ(Sent(), "LOCK");
}

TEST_F(WriteTest, WriteStringLargerThanQueueFails) {
  std::string big(kQueueSize + 1, 'x');
  EXPECT_EQ(WriteString(*port, big, 10), kTxFull);
}

TEST_F(WriteTest, WriteBufferBeyondQueueCompletesAsQueueDrains) {
  line.txBytesPerMs = 1;  // about 9600 baud
  std::vector<std::uint8_t> data(3000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(WriteBuffer(*port, data.data(), 3000, 10000), kOk);
  EXPECT_EQ(port->count, 3000);
  EXPECT_EQ(port->status, kOk);
  timing.Advance(2000);
  std::string sent = Sent();
  ASSERT_EQ(sent.size(), 3000u);
  EXPECT_EQ(static_cast<std::uint8_t>(sent[2999]), data[2999]);
}

TEST_F(WriteTest, WriteBufferTimesOutWhenQueueStaysFull) {
  line.txBytesPerMs = 1;
  std::vector<std::uint8_t> data(3000, 0x55);
  EXPECT_EQ(WriteBuffer(*port, data.data(), 3000, 100), kTxFull);
  EXPECT_LT(port->count, 3000);
  EXPECT_GE(timing.now(), 100u);
}

TEST_F(WriteTest, WriteBufferKeepsStatusItFound) {
  port->status = kTimeout;
  std::uint8_t b[3] = {1, 2, 3};
  EXPECT_EQ(WriteBuffer(*port, b, 3, 100), kOk);
  EXPECT_EQ(port->status, kTimeout);
}

using FlushTest = LineFixture;

TEST_F(FlushTest, EmptyLineReturnsAtOnce) {
  EXPECT_EQ(FlushRxBuffer(*port), kOk);
  EXPECT_EQ(timing.now(), 0u);
}

TEST_F(FlushTest, DiscardsEverythingWaiting) {
  Feed(std::string(200, 'z'));
  EXPECT_EQ(FlushRxBuffer(*port), kOk);
  EXPECT_TRUE(line.toHost.empty());
}

using DelayTest = LineFixture;

TEST_F(DelayTest, RunsIdleHookUntilTime) {
  EXPECT_EQ(Delay(*port, 250), kOk);
  EXPECT_EQ(timing.now(), 250u);
  EXPECT_EQ(timing.idleCalls(), 250);
}

TEST_F(DelayTest, StopRequestEndsWaitsAtOnce) {
  timing.RequestStop();
  EXPECT_EQ(ReadChar(*port, -1), kTimeout);
  EXPECT_EQ(Delay(*port, 100000), kOk);
  EXPECT_LT(timing.now(), 5u);
}

}  // namespace
}  // namespace zephor::serial
