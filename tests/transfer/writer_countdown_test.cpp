// The guarded writers while the transmit queue stays full: a countdown every five seconds,
// then a time-out; and the resumption once the line carries bytes again.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "transfer/xfer.h"
#include "transfer_fixture.h"

namespace zephor::transfer {
namespace {

constexpr std::uint8_t kFiller = 0x00;
constexpr std::uint8_t kMarker = 0x41;
constexpr std::uint32_t kCharLimitMs = 30000;
constexpr std::uint32_t kBufferLimitMs = 60000;
// Slack for the passes a writer makes after its deadline tick.
constexpr std::uint32_t kSlackMs = 5;

class WriterCountdownTest : public TransferFixture {
 protected:
  void SetUp() override {
    TransferFixture::SetUp();
    // The line carries one byte a millisecond, and someone else fills the freed place at once
    // until stallUntilMs: the queue stays full for the writer under test.
    line.txBytesPerMs = 1;
    Refill();
    peer = [this](std::uint32_t now, serial::MemoryLine& l) {
      if (now < stallUntilMs) Refill();
      while (!l.toPeer.empty()) {
        carried.push_back(l.toPeer.front());
        l.toPeer.pop_front();
      }
    };
    xfer = std::make_unique<XFER>(*port);
    xfer->sink = Recorder();
  }
  void Refill() {
    while (line.txQueue.size() < static_cast<std::size_t>(serial::kQueueSize)) {
      line.txQueue.push_back(kFiller);
    }
  }
  static std::vector<std::string> Countdown(int from, const char* format) {
    std::vector<std::string> lines;
    for (int s = from; s >= 0; s -= 5) {
      char text[64];
      std::snprintf(text, sizeof text, format, s);
      lines.emplace_back(text);
    }
    return lines;
  }

  std::uint32_t stallUntilMs = UINT32_MAX;
  Bytes carried;
  std::unique_ptr<XFER> xfer;
};

TEST_F(WriterCountdownTest, WriteCharCountsDownFromTwentyFiveThenTimesOut) {
  const std::uint32_t start = timing.now();
  EXPECT_EQ(XferWriteChar(*xfer, kMarker), kXferWriteCharFailed);
  EXPECT_EQ(xfer->result, kXferWriteCharFailed);
  auto expected = Countdown(25, "%d sec left to WriteChar");
  expected.emplace_back("Timeout error sending buffer");
  EXPECT_EQ(messages, expected);
  const std::uint32_t took = timing.now() - start;
  EXPECT_GE(took, kCharLimitMs);
  EXPECT_LE(took, kCharLimitMs + kSlackMs);
  EXPECT_EQ(std::count(carried.begin(), carried.end(), kMarker), 0);
}

TEST_F(WriterCountdownTest, WriteBufferCountsDownFromFiftyFiveThenTimesOut) {
  const Bytes data(kShortBlock, kMarker);
  const std::uint32_t start = timing.now();
  EXPECT_EQ(XferWriteBuffer(*xfer, data.data(), kShortBlock), kXferSendBlockFailed);
  EXPECT_EQ(xfer->result, kXferSendBlockFailed);
  auto expected = Countdown(55, "%d sec to complete WriteBuffer");
  expected.emplace_back("Timeout error sending buffer");
  EXPECT_EQ(messages, expected);
  ASSERT_EQ(expected.size(), 13u);
  const std::uint32_t took = timing.now() - start;
  EXPECT_GE(took, kBufferLimitMs);
  EXPECT_LE(took, kBufferLimitMs + kSlackMs);
}

TEST_F(WriterCountdownTest, WriteCharGoesOutOnceTheQueueDrainsAndKeepsTheStatus) {
  stallUntilMs = 12500;  // 17.5 s of the 30 left when the line frees: two countdown lines
  EXPECT_EQ(XferWriteChar(*xfer, kMarker), 0);
  EXPECT_EQ(xfer->result, 0);
  EXPECT_EQ(port->status, serial::kOk);
  EXPECT_EQ(messages,
            (std::vector<std::string>{"25 sec left to WriteChar", "20 sec left to WriteChar"}));
  timing.Advance(2 * serial::kQueueSize);
  ASSERT_FALSE(carried.empty());
  EXPECT_EQ(carried.back(), kMarker);
}

TEST_F(WriterCountdownTest, WriteBufferSendsEveryByteInOrderAcrossPartialWrites) {
  stallUntilMs = 3000;
  const Bytes data = Pattern(3 * kShortBlock, 41);
  EXPECT_EQ(XferWriteBuffer(*xfer, data.data(), static_cast<int>(data.size())), 0);
  EXPECT_EQ(port->count, static_cast<int>(data.size()));
  EXPECT_TRUE(messages.empty());  // 57 s were left when it finished: no countdown line yet
  timing.Advance(2 * serial::kQueueSize);
  EXPECT_TRUE(EndsWith(carried, data));
}

}  // namespace
}  // namespace zephor::transfer
