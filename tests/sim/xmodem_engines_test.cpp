// The instrument's own XMODEM receiver and sender, fed byte by byte on a hand-made clock.
#include <gtest/gtest.h>

#include "sim/check_codes.h"
#include "sim/xmodem_block_receiver.h"
#include "sim/xmodem_block_sender.h"
#include "wire_host.h"

namespace zephor::sim {
namespace {

using test::Bytes;
using test::HostCrc;

Bytes Block(std::uint8_t number, const Bytes& payload) {
  Bytes b = {kXmodemSoh, number, static_cast<std::uint8_t>(~number)};
  b.insert(b.end(), payload.begin(), payload.end());
  const std::uint16_t crc = HostCrc(payload);
  b.push_back(static_cast<std::uint8_t>(crc >> 8));
  b.push_back(static_cast<std::uint8_t>(crc));
  return b;
}

Outbox Feed(XmodemBlockReceiver& r, const Bytes& bytes, std::uint32_t now = 10) {
  Outbox out;
  for (std::uint8_t b : bytes) r.Receive(b, now, out);
  return out;
}

TEST(CheckCodesTest, CrcCheckValueAndSums) {
  const Bytes digits = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(InstrumentCrc16(digits.data(), digits.size()), 0x31C3);
  EXPECT_EQ(InstrumentCrc16(digits.data(), 0, 0x1234), 0x1234);
  const std::uint16_t part = InstrumentCrc16(digits.data(), 4);
  EXPECT_EQ(InstrumentCrc16(digits.data() + 4, 5, part), 0x31C3);
  const Bytes ff(128, 0xFF);
  EXPECT_EQ(BlockChecksum(ff.data(), ff.size()), 0x80);
  EXPECT_EQ(ImageByteSum(ff.data(), ff.size()), 128u * 255u);
}

TEST(SimReceiverTest, AcceptsBlocksIgnoresDuplicateEndsAtEot) {
  XmodemBlockReceiver r;
  Outbox out;
  r.Start(0, out);
  EXPECT_EQ(out, Outbox{'C'});
  const Bytes a(128, 0x11), b(128, 0x22);
  EXPECT_EQ(Feed(r, Block(1, a)), Outbox{kXmodemAck});
  EXPECT_EQ(Feed(r, Block(1, a)), Outbox{kXmodemAck});  // repeat: acknowledged, not kept
  EXPECT_EQ(Feed(r, Block(2, b)), Outbox{kXmodemAck});
  // EOT counts once the line has stayed quiet for a second after it.
  EXPECT_EQ(Feed(r, {kXmodemEot}), Outbox{});
  Outbox end;
  r.Tick(10 + 999, end);
  EXPECT_EQ(end, Outbox{});
  r.Tick(10 + 1000, end);
  EXPECT_EQ(end, Outbox{kXmodemAck});
  EXPECT_EQ(r.outcome(), TransferOutcome::kDone);
  EXPECT_EQ(r.duplicates(), 1);
  Bytes both = a;
  both.insert(both.end(), b.begin(), b.end());
  EXPECT_EQ(r.data(), both);
}

TEST(SimReceiverTest, EotFollowedByMoreBytesIsNoise) {
  // The number byte 0x04 of a block whose SOH was lost must not end the transfer early.
  XmodemBlockReceiver r;
  Outbox out;
  r.Start(0, out);
  const Bytes a(128, 0x11);
  EXPECT_EQ(Feed(r, Block(1, a)), Outbox{kXmodemAck});
  Bytes broken = Block(4, Bytes(128, 0x44));
  broken.erase(broken.begin());  // SOH lost: 0x04 0xFB and the data follow
  Feed(r, broken);
  Outbox later;
  r.Tick(10 + 5000, later);
  EXPECT_EQ(r.outcome(), TransferOutcome::kRunning);
  EXPECT_EQ(r.data(), a);
}

TEST(SimReceiverTest, RefusesBadCrcBadNumbersAndOutOfSequence) {
  XmodemBlockReceiver r;
  Bytes bad = Block(1, Bytes(128, 0x33));
  bad[50] ^= 0x01;
  EXPECT_EQ(Feed(r, bad), Outbox{kXmodemNak});
  Bytes pair = Block(1, Bytes(128, 0x33));
  pair[2] = 0xFB;
  EXPECT_EQ(Feed(r, pair), Outbox{kXmodemNak});
  EXPECT_EQ(Feed(r, Block(2, Bytes(128, 0x33))), Outbox{kXmodemNak});
  EXPECT_EQ(r.naksSent(), 3);
  EXPECT_TRUE(r.data().empty());
  EXPECT_EQ(Feed(r, Block(1, Bytes(128, 0x33))), Outbox{kXmodemAck});
  EXPECT_EQ(r.data().size(), 128u);
}

TEST(SimReceiverTest, TwoCanCancelAndSilenceInsideABlockCostsANak) {
  XmodemBlockReceiver r;
  Bytes half = Block(1, Bytes(128, 0x44));
  half.resize(60);
  Feed(r, half, 100);
  Outbox out;
  r.Tick(1099, out);
  EXPECT_TRUE(out.empty());
  r.Tick(1100, out);
  EXPECT_EQ(out, Outbox{kXmodemNak});
  Feed(r, {kXmodemCan, kXmodemCan});
  EXPECT_EQ(r.outcome(), TransferOutcome::kCancelled);
}

TEST(SimReceiverTest, RepeatsCThenGivesUpWithCan) {
  XmodemBlockReceiver r;
  Outbox out;
  r.Start(0, out);
  for (std::uint32_t t = 1; t <= 70000 && r.outcome() == TransferOutcome::kRunning; ++t)
    r.Tick(t, out);
  EXPECT_EQ(r.outcome(), TransferOutcome::kGaveUp);
  EXPECT_EQ(std::count(out.begin(), out.end(), 'C'), 20);
  ASSERT_GE(out.size(), 2u);
  EXPECT_EQ(out[out.size() - 1], kXmodemCan);
  EXPECT_EQ(out[out.size() - 2], kXmodemCan);
}

TEST(SimReceiverTest, FaultsRefuseEarlyBlocksAndCancelAtBlock) {
  XmodemBlockReceiver r(ReceiverFaults{2, 3});
  const Bytes p(128, 0x55);
  EXPECT_EQ(Feed(r, Block(1, p)), Outbox{kXmodemNak});
  EXPECT_EQ(Feed(r, Block(1, p)), Outbox{kXmodemNak});
  EXPECT_EQ(Feed(r, Block(1, p)), Outbox{kXmodemAck});
  EXPECT_EQ(Feed(r, Block(2, p)), Outbox{kXmodemAck});
  EXPECT_EQ((Feed(r, Block(3, p))), (Outbox{kXmodemCan, kXmodemCan}));
  EXPECT_EQ(r.outcome(), TransferOutcome::kCancelled);
  EXPECT_EQ(r.data().size(), 256u);
}

TEST(SimSenderTest, CrcBlocksPaddedWith1AThenEot) {
  Bytes data(300);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  XmodemBlockSender s(data, 0);
  Outbox out;
  s.Receive('C', 1, out);
  ASSERT_EQ(out.size(), 133u);
  EXPECT_EQ(out[0], kXmodemSoh);
  EXPECT_EQ(out[1], 1);
  EXPECT_EQ(out[2], 0xFE);
  Bytes got;
  for (int block = 1; block <= 3; ++block) {
    ASSERT_EQ(out.size(), 133u) << block;
    const Bytes payload(out.begin() + 3, out.begin() + 131);
    EXPECT_EQ(HostCrc(payload), (out[131] << 8) | out[132]);
    got.insert(got.end(), payload.begin(), payload.end());
    out.clear();
    s.Receive(kXmodemAck, 2, out);
  }
  EXPECT_EQ(out, Outbox{kXmodemEot});
  out.clear();
  s.Receive(kXmodemAck, 3, out);
  EXPECT_EQ(s.outcome(), TransferOutcome::kDone);
  ASSERT_EQ(got.size(), 384u);
  EXPECT_EQ(Bytes(got.begin(), got.begin() + 300), data);
  EXPECT_EQ(std::count(got.begin() + 300, got.end(), kXmodemPad), 84);
}

TEST(SimSenderTest, NakStartGivesChecksumBlocksAndNakRepeatsTheBlock) {
  XmodemBlockSender s(Bytes(200, 0x01), 0);
  Outbox out;
  s.Receive(kXmodemNak, 1, out);
  EXPECT_FALSE(s.crcMode());
  ASSERT_EQ(out.size(), 132u);
  EXPECT_EQ(out[131], 128);  // 128 ones
  const Outbox first = out;
  out.clear();
  s.Receive(kXmodemNak, 2, out);
  EXPECT_EQ(out, first);
  EXPECT_EQ(s.retries(), 1);
}

TEST(SimSenderTest, GivesUpAfterTenUnansweredTriesAndOnTwoCan) {
  XmodemBlockSender s(Bytes(10, 0x01), 0);
  Outbox out;
  s.Receive('C', 0, out);
  for (std::uint32_t t = 1; t <= 200000 && s.outcome() == TransferOutcome::kRunning; t += 100)
    s.Tick(t, out);
  EXPECT_EQ(s.outcome(), TransferOutcome::kGaveUp);
  EXPECT_EQ(s.blocksSent(), 10);

  XmodemBlockSender c(Bytes(10, 0x01), 0);
  c.Receive('C', 0, out);
  c.Receive(kXmodemCan, 1, out);
  EXPECT_EQ(c.outcome(), TransferOutcome::kRunning);
  c.Receive(kXmodemCan, 2, out);
  EXPECT_EQ(c.outcome(), TransferOutcome::kCancelled);

  XmodemBlockSender idle(Bytes(10, 0x01), 0);
  idle.Tick(59999, out);
  EXPECT_EQ(idle.outcome(), TransferOutcome::kRunning);
  idle.Tick(60000, out);
  EXPECT_EQ(idle.outcome(), TransferOutcome::kGaveUp);
}

TEST(SimSenderTest, CancelAtBlockFault) {
  XmodemBlockSender s(Bytes(300, 0x01), 0, SenderFaults{2});
  Outbox out;
  s.Receive('C', 0, out);
  out.clear();
  s.Receive(kXmodemAck, 1, out);
  EXPECT_EQ(out, (Outbox{kXmodemCan, kXmodemCan}));
  EXPECT_EQ(s.outcome(), TransferOutcome::kCancelled);
}

}  // namespace
}  // namespace zephor::sim
