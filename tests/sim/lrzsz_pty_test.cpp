// zephor-sim's XMODEM against lrzsz on the simulator's own pseudo-terminal, in real time. The
// command lines go by hand; sx then talks straight on the terminal. rx flushes its input after
// every ACK and its output when it ends, which on a terminal can take its last ACK away before
// the instrument reads it: the size table therefore puts rx behind a socket relayed to the
// terminal (rx bare on it is a real-time run of its own, in tests/realtime).
#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <vector>

#include "lrzsz_pty_fixture.h"

namespace zephor::sim {
namespace {

// Every size of the table at once, each with a simulator and an lrzsz of its own: lrzsz ends every
// transfer with a second of waiting, which the sizes then share. A failure names its size.
void ForEverySizeAtOnce(const std::function<void(SimTerminalSession&, const Bytes&)>& move,
                        unsigned seed) {
  std::vector<std::thread> sessions;
  for (const std::size_t size : kSizes) {
    sessions.emplace_back([&move, size, seed] {
      SimTerminalSession session;
      move(session, Pattern(size, seed));
    });
  }
  for (std::thread& session : sessions) session.join();
}

TEST(LrzszPtySizeTest, SxShortBlocksUpload) {
  SKIP_WITHOUT(kSx);
  ForEverySizeAtOnce([](SimTerminalSession& s, const Bytes& file) { s.UploadWithSx(file, {}); }, 1);
}

TEST(LrzszPtySizeTest, SxLongBlocksUpload) {
  SKIP_WITHOUT(kSx);
  ForEverySizeAtOnce([](SimTerminalSession& s, const Bytes& file) { s.UploadWithSx(file, {"-k"}); },
                     2);
}

TEST(LrzszPtySizeTest, RxCrcDownload) {
  SKIP_WITHOUT(kRx);
  ForEverySizeAtOnce(
      [](SimTerminalSession& s, const Bytes& memory) { s.DownloadWithRx(memory, {"-c"}); }, 3);
}

TEST(LrzszPtySizeTest, RxChecksumDownload) {
  SKIP_WITHOUT(kRx);
  ForEverySizeAtOnce(
      [](SimTerminalSession& s, const Bytes& memory) { s.DownloadWithRx(memory, {}); }, 4);
}

TEST_F(LrzszPtyTest, SxUploadsAnEmptyFile) {
  SKIP_WITHOUT(kSx);
  UploadWithSx({}, {});
}

// An empty memory has nothing to send: the answer says so and no transfer starts.
TEST_F(LrzszPtyTest, EmptyMemoryDownloadStartsNoTransfer) {
  ASSERT_TRUE(StartSim({})) << "zephor-sim said: " << sim_->ready();
  ASSERT_EQ(Converse("UNLOCK\n", kUnlockReply), kUnlockReply);
  ASSERT_EQ(Converse("DOWNLOAD\n", DownloadAnswer(0)), DownloadAnswer(0));
  EXPECT_EQ(Converse("UNLOCK\n", kUnlockReply), kUnlockReply);
}

}  // namespace
}  // namespace zephor::sim
