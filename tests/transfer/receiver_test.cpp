// ReceiveFile against a scripted sender on a memory line in virtual time.
#include <gtest/gtest.h>

#include <deque>

#include "model_disk.h"
#include "transfer/xmodem.h"
#include "transfer_fixture.h"

namespace zephor::transfer {
namespace {

Bytes Frame(std::uint8_t start, int number, const Bytes& data, bool crc, int complement = -1) {
  Bytes f{start, static_cast<std::uint8_t>(number & 0xFF),
          static_cast<std::uint8_t>(complement >= 0 ? complement : 255 - (number & 0xFF))};
  f.insert(f.end(), data.begin(), data.end());
  if (crc) {
    const std::uint16_t c = PeerCrc(data);
    f.push_back(static_cast<std::uint8_t>(c >> 8));
    f.push_back(static_cast<std::uint8_t>(c & 0xFF));
  } else {
    f.push_back(PeerSum(data));
  }
  return f;
}

Bytes Soh(int number, const Bytes& data, bool crc = true) {
  return Frame(kPeerSoh, number, data, crc);
}

// A sender written from the protocol: waits for C or NAK, then answers each ACK or NAK from the
// host with the next frame of its script (two seconds later after a refusal, so a purge is over).
struct ScriptedSender {
  std::deque<Bytes> frames;
  bool ignoreC = false;
  bool started = false;
  struct Reply {
    std::uint32_t at;
    std::uint8_t byte;
  };
  std::vector<Reply> replies;
  Bytes seen;
  std::uint32_t sendAt = 0;
  bool due = false;

  void Step(std::uint32_t now, serial::MemoryLine& line) {
    while (!line.toPeer.empty()) {
      const std::uint8_t b = line.toPeer.front();
      line.toPeer.pop_front();
      seen.push_back(b);
      if (b != kPeerAck && b != kPeerNak && b != kPeerC) continue;
      replies.push_back({now, b});
      if (!started) {
        if (b == kPeerC && ignoreC) continue;
        started = true;
      }
      due = true;
      sendAt = now + (b == kPeerAck ? 1 : 2000);
    }
    if (due && now >= sendAt) {
      due = false;
      if (!frames.empty()) {
        line.PeerSend(frames.front());
        frames.pop_front();
      }
    }
  }
  int Count(std::uint8_t b) const {
    int n = 0;
    for (const auto& r : replies) n += r.byte == b;
    return n;
  }
};

class ReceiverTest : public TransferFixture {
 protected:
  void Attach() {
    peer = [this](std::uint32_t now, serial::MemoryLine& l) { sender.Step(now, l); };
  }
  ScriptedSender sender;
};

TEST_F(ReceiverTest, CrcBlocksAreStoredWhole) {
  const Bytes a = Pattern(128, 1), b = Pattern(128, 2);
  sender.frames = {Soh(1, a), Soh(2, b), {kPeerEot}};
  Attach();
  EXPECT_EQ(ReceiveFile(*port, PathOf("data.bin")), 1);
  timing.Advance(2);  // the last ACK leaves the transmit queue
  Bytes expected = a;
  expected.insert(expected.end(), b.begin(), b.end());
  EXPECT_EQ(ReadFile("data.bin"), expected);
  ASSERT_FALSE(sender.replies.empty());
  EXPECT_EQ(sender.replies.front().byte, kPeerC);
  EXPECT_EQ(sender.Count(kPeerAck), 3);
  EXPECT_FALSE(Exists("data.bin.part"));
}

TEST_F(ReceiverTest, BlockWhoseSohWasLostIsNoEndOfTransmission) {
  // Block 4 arrives without its SOH: its number byte 0x04 looks like EOT, but more bytes follow
  // at once. Taking it for the end would report three blocks of a four-block file as received.
  const Bytes a = Pattern(128, 21), b = Pattern(128, 22), c = Pattern(128, 23),
              d = Pattern(128, 24);
  Bytes cut = Soh(4, d);
  cut.erase(cut.begin());
  sender.frames = {Soh(1, a), Soh(2, b), Soh(3, c), cut, Soh(4, d), {kPeerEot}};
  Attach();
  EXPECT_EQ(ReceiveFile(*port, PathOf("cut.bin"), {}, Recorder()), 1);
  timing.Advance(2);
  EXPECT_EQ(ReadFile("cut.bin").size(), 4u * 128);
  EXPECT_TRUE(HasMessage("Bytes after end of transmission"));
  EXPECT_EQ(sender.Count(kPeerNak), 1);
}

TEST_F(ReceiverTest, LongAndShortBlocksMix) {
  sender.frames = {Frame(kPeerStx, 1, Pattern(1024, 3), true),
                   Soh(2, Pattern(128, 4)),
                   Soh(3, Pattern(128, 5)),
                   {kPeerEot}};
  Attach();
  EXPECT_EQ(ReceiveFile(*port, PathOf("db.bin")), 1);
  EXPECT_EQ(ReadFile("db.bin").size(), 1280u);
}

TEST_F(ReceiverTest, DuplicateBlockIsAcknowledgedNotWritten) {
  const Bytes a = Pattern(128, 6), b = Pattern(128, 7), c = Pattern(128, 8);
  sender.frames = {Soh(1, a), Soh(2, b), Soh(2, b), Soh(3, c), {kPeerEot}};
  Attach();
  EXPECT_EQ(ReceiveFile(*port, PathOf("d.bin"), {}, Recorder()), 1);
  timing.Advance(2);
  EXPECT_EQ(ReadFile("d.bin").size(), 3u * 128);
  EXPECT_EQ(sender.Count(kPeerAck), 5);
  EXPECT_TRUE(HasMessage("Duplicate block 3"));
}

TEST_F(ReceiverTest, OutOfSequenceBlockIsRefusedNotWritten) {
  const Bytes a = Pattern(128, 9), b = Pattern(128, 10);
  sender.frames = {Soh(1, a), Soh(3, Pattern(128, 11)), Soh(2, b), {kPeerEot}};
  Attach();
  EXPECT_EQ(ReceiveFile(*port, PathOf("s.bin"), {}, Recorder()), 1);
  Bytes expected = a;
  expected.insert(expected.end(), b.begin(), b.end());
  EXPECT_EQ(ReadFile("s.bin"), expected);
  EXPECT_EQ(sender.Count(kPeerNak), 1);
  EXPECT_TRUE(HasMessage("Bad block number waiting for number 2"));
}

TEST_F(ReceiverTest, BadNumberPairIsRefusedAfterPurge) {
  const Bytes a = Pattern(128, 12);
  sender.frames = {Frame(kPeerSoh, 3, a, true, 0xFB), Soh(1, a), {kPeerEot}};
  Attach();
  EXPECT_EQ(ReceiveFile(*port, PathOf("n.bin"), {}, Recorder()), 1);
  EXPECT_TRUE(HasMessage("Bad block numbers 03 fb"));
  EXPECT_EQ(ReadFile("n.bin"), a);
  // While block 1 is due in CRC mode, the refusal asks again with C.
  EXPECT_EQ(sender.replies[1].byte, kPeerC);
}

TEST_F(ReceiverTest, BadCrcIsRefused) {
  const Bytes a = Pattern(128, 13);
  Bytes spoiled = Soh(1, a);
  spoiled.back() ^= 0x01;
  sender.frames = {spoiled, Soh(1, a), {kPeerEot}};
  Attach();
  EXPECT_EQ(ReceiveFile(*port, PathOf("c.bin"), {}, Recorder()), 1);
  EXPECT_TRUE(HasMessage("Bad CRC on block number 1"));
  EXPECT_EQ(ReadFile("c.bin"), a);
}

TEST_F(ReceiverTest, SenderThatIgnoresCGetsThreeCThenNak) {
  const Bytes a = Pattern(128, 14);
  sender.ignoreC = true;
  sender.frames = {Soh(1, a, false), {kPeerEot}};
  Attach();
  EXPECT_EQ(ReceiveFile(*port, PathOf("k.bin")), 1);
  ASSERT_GE(sender.replies.size(), 4u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(sender.replies[i].byte, kPeerC);
  EXPECT_EQ(sender.replies[3].byte, kPeerNak);
  EXPECT_NEAR(sender.replies[1].at - sender.replies[0].at, 5000, 50);
  EXPECT_NEAR(sender.replies[3].at - sender.replies[2].at, 5000, 50);
  EXPECT_EQ(ReadFile("k.bin"), a);
}

TEST_F(ReceiverTest, ChecksumOptionAsksWithNak) {
  sender.frames = {Soh(1, Pattern(128, 15), false), {kPeerEot}};
  Attach();
  EXPECT_EQ(ReceiveFile(*port, PathOf("o.bin"), {{1008}}), 1);
  EXPECT_EQ(sender.replies.front().byte, kPeerNak);
}

TEST_F(ReceiverTest, BlockNumbersWrap) {
  Bytes expected;
  for (int i = 1; i <= 257; ++i) {
    const Bytes d = Pattern(128, static_cast<unsigned>(100 + i));
    sender.frames.push_back(Soh(i, d));
    expected.insert(expected.end(), d.begin(), d.end());
  }
  sender.frames.push_back({kPeerEot});
  Attach();
  EXPECT_EQ(ReceiveFile(*port, PathOf("w.bin")), 1);
  EXPECT_EQ(ReadFile("w.bin"), expected);
}

TEST_F(ReceiverTest, EotFirstLeavesEmptyFile) {
  sender.frames = {{kPeerEot}};
  Attach();
  EXPECT_EQ(ReceiveFile(*port, PathOf("e.bin")), 1);
  EXPECT_TRUE(Exists("e.bin"));
  EXPECT_TRUE(ReadFile("e.bin").empty());
}

TEST_F(ReceiverTest, HandshakeWaitTagIsRefused) {
  Attach();
  EXPECT_EQ(ReceiveFile(*port, PathOf("x.bin"), {{1016, 5000}}), serial::kBadArgument);
  EXPECT_EQ(ReceiveFile(*port, PathOf("x.bin"), {{1002}}), serial::kBadArgument);
  EXPECT_FALSE(Exists("x.bin.part"));
  EXPECT_TRUE(line.txQueue.empty());
  EXPECT_EQ(timing.now(), 0u);
}

TEST_F(ReceiverTest, SilentSenderGivesNoStart) {
  Attach();  // no frames: the sender never starts a block
  EXPECT_EQ(ReceiveFile(*port, PathOf("q.bin")), kXferNoStart);
  EXPECT_TRUE(EndsWith(sender.seen, CancelSequence()));
}

TEST_F(ReceiverTest, TwoCanCancel) {
  sender.frames = {Bytes{kPeerCan, kPeerCan}};
  Attach();
  EXPECT_EQ(ReceiveFile(*port, PathOf("z.bin")), kXferCancelled);
  EXPECT_TRUE(EndsWith(sender.seen, CancelSequence()));
}

TEST_F(ReceiverTest, FailedTransferKeepsEarlierFileAndPartialData) {
  WriteFile("ZEPHORdata.bin", {'o', 'l', 'd'});
  const Bytes a = Pattern(128, 16);
  sender.frames = {Soh(1, a), Bytes{kPeerCan, kPeerCan}};
  Attach();
  EXPECT_EQ(ReceiveFile(*port, PathOf("ZEPHORdata.bin")), kXferCancelled);
  EXPECT_EQ(ReadFile("ZEPHORdata.bin"), (Bytes{'o', 'l', 'd'}));
  EXPECT_EQ(ReadFile("ZEPHORdata.bin.part"), a);

  // A stop asked for by the operator after the first block leaves no partial file.
  sender = {};
  sender.frames = {Soh(1, a), Soh(2, a)};
  peer = [this](std::uint32_t now, serial::MemoryLine& l) {
    sender.Step(now, l);
    if (sender.Count(kPeerAck) > 0) timing.RequestStop();
  };
  EXPECT_EQ(ReceiveFile(*port, PathOf("stopped.bin")), kXferStopped);
  EXPECT_FALSE(Exists("stopped.bin.part"));
  EXPECT_FALSE(Exists("stopped.bin"));
}

TEST_F(ReceiverTest, SuccessfulTransferReplacesEarlierFile) {
  WriteFile("ZEPHORdata.bin", {'o', 'l', 'd'});
  const Bytes a = Pattern(128, 17);
  sender.frames = {Soh(1, a), {kPeerEot}};
  Attach();
  EXPECT_EQ(ReceiveFile(*port, PathOf("ZEPHORdata.bin")), 1);
  EXPECT_EQ(ReadFile("ZEPHORdata.bin"), a);
  EXPECT_FALSE(Exists("ZEPHORdata.bin.part"));
}

TEST_F(ReceiverTest, UncreatableFileFailsAndCancelsWithCutMessage) {
  Attach();
  // A name long enough that the opening message is cut, however long the scratch path is.
  constexpr std::size_t kLongName = 100;
  std::string name = PathOf("no_such_dir/");
  name += std::string(name.size() < kLongName ? kLongName - name.size() : 1, 'n');
  EXPECT_EQ(ReceiveFile(*port, name, {}, Recorder()), kXferOpenFailed);
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.front(), ("Opening file " + name).substr(0, 83));
  EXPECT_TRUE(HasMessage("Failed to open file"));
  EXPECT_EQ(sender.seen, CancelSequence());
}

// On a model disk: a received file is whole or absent after any power cut, and a full disk
// keeps nothing behind.
TEST_F(ReceiverTest, ReceivedFileSurvivesAPowerCutWholeOrNotAtAll) {
  files::ModelDisk disk;
  disk.PutFile("ZEPHORdata.bin", {'o', 'l', 'd'});
  const Bytes a = Pattern(128, 18);
  sender.frames = {Soh(1, a), Soh(2, a), {kPeerEot}};
  Attach();
  XferOptions options;
  options.disk = &disk;
  ASSERT_EQ(ReceiveFile(*port, "ZEPHORdata.bin", options), 1);
  Bytes whole = a;
  whole.insert(whole.end(), a.begin(), a.end());
  for (const files::CrashState& state : disk.CrashStates()) {
    const Bytes held = state.image.at("ZEPHORdata.bin").bytes;
    EXPECT_TRUE(held == Bytes({'o', 'l', 'd'}) || held == whole) << state.description;
  }

  files::ModelDisk full;
  full.SetCapacity(200);
  sender = {};
  sender.frames = {Soh(1, a), Soh(2, a), {kPeerEot}};
  FileFailure failure;
  options.disk = &full;
  EXPECT_EQ(ReceiveFile(*port, "ZEPHORdata.bin", options, {}, {}, &failure), kXferFileError);
  EXPECT_EQ(failure.why, "the disk is full");
  EXPECT_EQ(failure.bytesWritten, 200);
  EXPECT_EQ(full.Now(), files::DiskImage{});
}

}  // namespace
}  // namespace zephor::transfer
