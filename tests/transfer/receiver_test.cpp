// ReceiveFile against a scripted sender on a memory line in virtual time.
#include <gtest/gtest.h>

#include <deque>
#include <initializer_list>
#include <optional>
#include <ostream>
#include <vector>

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

// One transfer of a sender's frames: what reaches the file, what the receiver says, and how it
// answers. A fault in one block costs that block alone.
struct BlockCase {
  const char* name;
  std::vector<Bytes> frames;     // as the sender sends them, one after each answer
  Bytes file;                    // what the received file holds
  const char* message;           // a message the receiver must give; none when empty
  std::optional<int> acks = {};  // how many ACK it sends, when that matters
  std::optional<int> naks = {};  // how many NAK it sends, when that matters
  std::optional<std::uint8_t> secondAnswer = {};  // its answer to the first frame, if it matters
};

void PrintTo(const BlockCase& row, std::ostream* out) { *out << row.name; }

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Block 4 without its SOH: its number byte 0x04 looks like EOT, but more bytes follow at once.
// Taking it for the end would report three blocks of a four-block file as received.
Bytes WithoutSoh(const Bytes& frame) { return Bytes(frame.begin() + 1, frame.end()); }

Bytes WithBadCrc(Bytes frame) {
  frame.back() ^= 0x01;
  return frame;
}

const Bytes kA = Pattern(128, 1), kB = Pattern(128, 2), kC = Pattern(128, 3), kD = Pattern(128, 4),
            kLong = Pattern(1024, 5);

class ReceiverBlockTest : public ReceiverTest, public ::testing::WithParamInterface<BlockCase> {};

TEST_P(ReceiverBlockTest, EachBlockIsWrittenOnceInOrder) {
  const BlockCase& c = GetParam();
  sender.frames.assign(c.frames.begin(), c.frames.end());
  sender.frames.push_back({kPeerEot});
  Attach();
  EXPECT_EQ(ReceiveFile(*port, PathOf("data.bin"), {}, Recorder()), 1);
  timing.Advance(2);  // the last ACK leaves the transmit queue
  EXPECT_EQ(ReadFile("data.bin"), c.file);
  EXPECT_FALSE(Exists("data.bin.part"));
  ASSERT_FALSE(sender.replies.empty());
  EXPECT_EQ(sender.replies.front().byte, kPeerC);
  if (c.message[0] != '\0') {
    EXPECT_TRUE(HasMessage(c.message)) << c.message;
  }
  if (c.acks) {
    EXPECT_EQ(sender.Count(kPeerAck), *c.acks);
  }
  if (c.naks) {
    EXPECT_EQ(sender.Count(kPeerNak), *c.naks);
  }
  if (c.secondAnswer) {
    ASSERT_GE(sender.replies.size(), 2U);
    EXPECT_EQ(sender.replies[1].byte, *c.secondAnswer);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReceiverBlockTest,
    ::testing::Values(
        BlockCase{"CrcBlocksAreStoredWhole", {Soh(1, kA), Soh(2, kB)}, Join({kA, kB}), "", 3},
        BlockCase{"LongAndShortBlocksMix",
                  {Frame(kPeerStx, 1, kLong, true), Soh(2, kA), Soh(3, kB)},
                  Join({kLong, kA, kB}),
                  ""},
        BlockCase{"BlockWhoseSohWasLostIsNoEndOfTransmission",
                  {Soh(1, kA), Soh(2, kB), Soh(3, kC), WithoutSoh(Soh(4, kD)), Soh(4, kD)},
                  Join({kA, kB, kC, kD}),
                  "Bytes after end of transmission",
                  std::nullopt,
                  1},
        BlockCase{"DuplicateBlockIsAcknowledgedNotWritten",
                  {Soh(1, kA), Soh(2, kB), Soh(2, kB), Soh(3, kC)},
                  Join({kA, kB, kC}),
                  "Duplicate block 3",
                  5},
        BlockCase{"OutOfSequenceBlockIsRefusedNotWritten",
                  {Soh(1, kA), Soh(3, kC), Soh(2, kB)},
                  Join({kA, kB}),
                  "Bad block number waiting for number 2",
                  std::nullopt,
                  1},
        // While block 1 is due in CRC mode, the refusal asks again with C.
        BlockCase{"BadNumberPairIsRefusedAfterPurge",
                  {Frame(kPeerSoh, 3, kA, true, 0xFB), Soh(1, kA)},
                  kA,
                  "Bad block numbers 03 fb",
                  std::nullopt,
                  std::nullopt,
                  kPeerC},
        BlockCase{"BadCrcIsRefused",
                  {WithBadCrc(Soh(1, kA)), Soh(1, kA)},
                  kA,
                  "Bad CRC on block number 1"}),
    [](const ::testing::TestParamInfo<BlockCase>& info) { return info.param.name; });

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
