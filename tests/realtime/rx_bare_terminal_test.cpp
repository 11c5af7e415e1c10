// rx bare on zephor-sim's own pseudo-terminal, in real time: rx flushes its input after every ACK,
// which on a terminal can eat the start of the next block or its last ACK. How long the transfer
// takes is up to those flushes and the timeouts they cost (one to thirty seconds), so it runs
// with the real-time runs.
#include <gtest/gtest.h>

#include <cstdio>

#include "lrzsz_pty_fixture.h"

namespace zephor::sim {
namespace {

// Each block start that rx's input flush eats costs seconds of its silence: a few blocks only.
constexpr std::size_t kBareSize = 8 * kShortBlock - 5;

// The file must still arrive whole; whether the instrument saw the end is recorded.
TEST_F(LrzszPtyTest, RxBareOnTerminalGetsTheWholeMemory) {
  SKIP_WITHOUT(kRx);
  const Bytes memory = Pattern(kBareSize, 9);
  ASSERT_TRUE(StartSim(memory)) << "zephor-sim said: " << sim_->ready();
  ASSERT_EQ(Converse("UNLOCK\n", kUnlockReply), kUnlockReply);
  ASSERT_EQ(Converse("DOWNLOAD\n", DownloadAnswer(memory.size())), DownloadAnswer(memory.size()));
  EXPECT_EQ(RunOnTerminal(kRx, {"-c", "got.bin"}), 0);
  EXPECT_TRUE(SameUpToPadding(ReadAll(dir_ / "got.bin"), memory));
  if (Converse("UNLOCK\n", kUnlockReply, kBackToCommandsMs) == kUnlockReply) {
    RecordProperty("last_ack", "read");
  } else {
    // The instrument still waits for the ACK that rx's flush discarded; it gives up on its own.
    RecordProperty("last_ack", "flushed");
    std::printf("rx ended before its ACK to EOT reached the instrument\n");
  }
}

}  // namespace
}  // namespace zephor::sim
