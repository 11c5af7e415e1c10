// SendFile against a scripted receiver on a memory line in virtual time.
#include <gtest/gtest.h>

#include <set>

#include "transfer/xmodem.h"
#include "transfer_fixture.h"

namespace zephor::transfer {
namespace {

// A receiver written from the protocol: asks with its start bytes every three seconds until
// something comes, then parses blocks and answers ACK, or NAK for the listed first tries.
struct ScriptedReceiver {
  Bytes startBytes{kPeerC};
  bool silent = false;
  std::set<int> nakFirstTry;  // block numbers whose first arrival is refused
  struct Block {
    int number;
    int complement;
    Bytes data;
    bool checkOk;
  };
  std::vector<Block> blocks;
  Bytes seen;  // every byte the host sent
  int eots = 0;
  bool started = false;
  Bytes pending;

  bool crc() const { return startBytes.front() == kPeerC; }

  void Step(std::uint32_t now, serial::MemoryLine& line) {
    while (!line.toPeer.empty()) {
      seen.push_back(line.toPeer.front());
      pending.push_back(line.toPeer.front());
      line.toPeer.pop_front();
    }
    if (silent) return;
    if (!started) {
      if (!pending.empty()) {
        started = true;
      } else if (now % 3000 == 1) {
        line.PeerSend(startBytes);
        return;
      }
    }
    while (!pending.empty()) {
      if (pending[0] == kPeerEot) {
        ++eots;
        pending.erase(pending.begin());
        line.PeerSend({kPeerAck});
        continue;
      }
      if (pending[0] != kPeerSoh) {
        pending.erase(pending.begin());
        continue;
      }
      const std::size_t need = 3 + 128 + (crc() ? 2 : 1);
      if (pending.size() < need) return;
      Block b{pending[1], pending[2], Bytes(pending.begin() + 3, pending.begin() + 131), false};
      if (crc()) {
        b.checkOk = PeerCrc(b.data) == (pending[131] << 8 | pending[132]);
      } else {
        b.checkOk = PeerSum(b.data) == pending[131];
      }
      pending.erase(pending.begin(), pending.begin() + static_cast<long>(need));
      const bool refuse = nakFirstTry.erase(b.number) > 0;
      blocks.push_back(b);
      line.PeerSend({refuse ? kPeerNak : kPeerAck});
    }
  }
};

class SenderTest : public TransferFixture {
 protected:
  void Attach() {
    peer = [this](std::uint32_t now, serial::MemoryLine& l) { receiver.Step(now, l); };
  }
  ScriptedReceiver receiver;
};

TEST_F(SenderTest, CrcStartSendsPaddedNumberedBlocksThenEot) {
  const Bytes data = Pattern(300, 1);
  WriteFile("boot.bin", data);
  Attach();
  EXPECT_EQ(SendFile(*port, PathOf("boot.bin")), 1);
  ASSERT_EQ(receiver.blocks.size(), 3u);
  Bytes got;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(receiver.blocks[i].number, i + 1);
    EXPECT_EQ(receiver.blocks[i].complement, 255 - (i + 1));
    EXPECT_TRUE(receiver.blocks[i].checkOk);
    got.insert(got.end(), receiver.blocks[i].data.begin(), receiver.blocks[i].data.end());
  }
  Bytes expected = data;
  expected.resize(384, 0x00);
  EXPECT_EQ(got, expected);
  EXPECT_EQ(receiver.eots, 1);
}

TEST_F(SenderTest, FileOfTwoFullBlocksGoesAsExactlyTwo) {
  WriteFile("two.bin", Pattern(256, 2));
  Attach();
  EXPECT_EQ(SendFile(*port, PathOf("two.bin")), 1);
  EXPECT_EQ(receiver.blocks.size(), 2u);
}

TEST_F(SenderTest, NakStartGivesChecksumBlocks) {
  WriteFile("main.bin", Pattern(200, 3));
  receiver.startBytes = {kPeerNak};
  Attach();
  EXPECT_EQ(SendFile(*port, PathOf("main.bin"), {}, Recorder()), 1);
  ASSERT_EQ(receiver.blocks.size(), 2u);
  for (const auto& b : receiver.blocks) EXPECT_TRUE(b.checkOk);
  EXPECT_TRUE(HasMessage("Falling back to checksum mode"));
}

TEST_F(SenderTest, ChecksumOptionRefusesTheCrcRequest) {
  WriteFile("main.bin", Pattern(100, 4));
  Attach();  // the receiver keeps asking with C, which a checksum sender does not take
  EXPECT_EQ(SendFile(*port, PathOf("main.bin"), {{1008, 1016, 2000}}), kXferNoStart);
  EXPECT_TRUE(receiver.blocks.empty());
}

TEST_F(SenderTest, NakedBlockIsRepeatedWithItsNumber) {
  WriteFile("update.bin", Pattern(3 * 128, 5));
  receiver.nakFirstTry = {2};
  Attach();
  EXPECT_EQ(SendFile(*port, PathOf("update.bin")), 1);
  ASSERT_EQ(receiver.blocks.size(), 4u);
  EXPECT_EQ(receiver.blocks[1].number, 2);
  EXPECT_EQ(receiver.blocks[2].number, 2);
  EXPECT_EQ(receiver.blocks[1].data, receiver.blocks[2].data);
  EXPECT_EQ(receiver.blocks[3].number, 3);
}

TEST_F(SenderTest, BlockNumbersWrapAfter255) {
  WriteFile("big.bin", Pattern(257 * 128, 6));
  Attach();
  EXPECT_EQ(SendFile(*port, PathOf("big.bin")), 1);
  ASSERT_EQ(receiver.blocks.size(), 257u);
  EXPECT_EQ(receiver.blocks[255].number, 0x00);
  EXPECT_EQ(receiver.blocks[255].complement, 0xFF);
  EXPECT_EQ(receiver.blocks[256].number, 0x01);
  EXPECT_EQ(receiver.blocks[256].complement, 0xFE);
}

TEST_F(SenderTest, SilentReceiverGivesNoStartAfterTenWaitsThenCancel) {
  WriteFile("boot.bin", Pattern(128, 7));
  receiver.silent = true;
  Attach();
  EXPECT_EQ(SendFile(*port, PathOf("boot.bin")), kXferNoStart);
  // Ten attempts of ten seconds, then a second's pause after the cancel sequence.
  EXPECT_GE(timing.now(), 100000u);
  EXPECT_LT(timing.now(), 102500u);
  EXPECT_EQ(receiver.seen, CancelSequence());
}

TEST_F(SenderTest, TwoCanWhileWaitingForStartCancel) {
  WriteFile("boot.bin", Pattern(128, 8));
  receiver.startBytes = {kPeerCan, kPeerCan};
  Attach();
  EXPECT_EQ(SendFile(*port, PathOf("boot.bin"), {}, Recorder()), kXferCancelled);
  EXPECT_TRUE(HasMessage("Remote end sent cancel code"));
  EXPECT_TRUE(EndsWith(receiver.seen, CancelSequence()));
}

TEST_F(SenderTest, DirectoryOrNoMatchGivesNoFile) {
  std::filesystem::create_directories(dir / "folder.bin");
  Attach();
  EXPECT_EQ(SendFile(*port, PathOf("folder.bin")), kXferNoFile);
  EXPECT_EQ(SendFile(*port, PathOf("missing.bin")), kXferNoFile);
  EXPECT_TRUE(receiver.blocks.empty());
}

TEST_F(SenderTest, EmptyFileCannotBeSent) {
  WriteFile("empty.bin", {});
  Attach();
  EXPECT_EQ(SendFile(*port, PathOf("empty.bin")), kXferFileError);
  EXPECT_TRUE(receiver.blocks.empty());
  EXPECT_TRUE(EndsWith(receiver.seen, CancelSequence()));
}

TEST_F(SenderTest, UnknownTagTouchesNothing) {
  WriteFile("boot.bin", Pattern(128, 9));
  Attach();
  EXPECT_EQ(SendFile(*port, PathOf("boot.bin"), {{1002}}), serial::kBadArgument);
  EXPECT_EQ(timing.now(), 0u);
  EXPECT_TRUE(line.txQueue.empty());
}

TEST_F(SenderTest, ClosingTheWindowStopsAndCancels) {
  WriteFile("main.bin", Pattern(10 * 128, 10));
  Attach();
  long progress = 0;
  auto poll = [&](XFER& x) {
    progress = x.blockNumber;
    if (x.blockNumber >= 4) timing.RequestStop();
  };
  EXPECT_EQ(SendFile(*port, PathOf("main.bin"), {}, {}, poll), kXferStopped);
  EXPECT_GE(progress, 4);
  EXPECT_LT(receiver.blocks.size(), 10u);
  // The stopped clock no longer carries the line by itself.
  timing.Advance(2);
  EXPECT_TRUE(EndsWith(receiver.seen, CancelSequence()));
}

}  // namespace
}  // namespace zephor::transfer
