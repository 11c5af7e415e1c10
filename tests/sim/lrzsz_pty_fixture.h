// zephor-sim and lrzsz on the simulator's own pseudo-terminal, in real time: the simulator
// started with a memory, command lines sent by hand, and sx or rx run on the terminal or behind a
// socket relayed to it.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "process/child_process.h"
#include "relay.h"
#include "sim_child.h"
#include "temp_dir.h"
#include "wire_host.h"

namespace zephor::sim {

using test::Bytes;

inline constexpr const char* kSx = "/usr/bin/sx";
inline constexpr const char* kRx = "/usr/bin/rx";
inline constexpr std::size_t kShortBlock = 128;
inline constexpr std::uint8_t kPad = 0x1A;
inline constexpr int kReplyWaitMs = 3000;
// Covers the instrument's repeated C (every 3 s) should lrzsz clear the first one away.
inline constexpr int kTransferLimitMs = 60000;
inline constexpr int kMemoryWriteWaitMs = 5000;
inline constexpr int kPollStepMs = 10;
// After rx has gone the instrument either had its ACK to EOT or waits for it far longer.
inline constexpr int kBackToCommandsMs = 2000;
inline constexpr const char* kUnlockReply = "OK\n>";
inline constexpr const char* kUploadReply = "OK\r\n";
// Sizes around one block and past 32 KiB, where the block number wraps past 255.
inline constexpr std::size_t kSizes[] = {1, 128, 129, 40000};

using LrzszClock = std::chrono::steady_clock;

inline Bytes Pattern(std::size_t size, unsigned seed) {
  Bytes b(size);
  for (std::size_t i = 0; i < size; ++i) {
    b[i] = static_cast<std::uint8_t>((i * 131 + seed) ^ (i >> 3) ^ (i >> 11));
  }
  return b;
}

inline Bytes ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::filesystem::path& path, const Bytes& data) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

// XMODEM gives whole 128-byte blocks: the file, then only padding up to the block boundary.
inline ::testing::AssertionResult SameUpToPadding(const Bytes& got, const Bytes& sent) {
  const std::size_t blocks = (sent.size() + kShortBlock - 1) / kShortBlock;
  if (got.size() != blocks * kShortBlock) {
    return ::testing::AssertionFailure()
           << "got " << got.size() << " bytes for " << sent.size() << " sent";
  }
  const auto differ = std::mismatch(sent.begin(), sent.end(), got.begin());
  if (differ.first != sent.end()) {
    return ::testing::AssertionFailure()
           << "first difference at byte " << differ.first - sent.begin();
  }
  if (!std::all_of(got.begin() + static_cast<long>(sent.size()), got.end(),
                   [](std::uint8_t b) { return b == kPad; })) {
    return ::testing::AssertionFailure() << "padding holds other bytes than 0x1A";
  }
  return ::testing::AssertionSuccess();
}

// One simulator on its terminal and a scratch folder for lrzsz's files; several can run at once.
class SimTerminalSession {
 public:
  SimTerminalSession() = default;
  ~SimTerminalSession() {
    if (line_ >= 0) close(line_);
    sim_.reset();
  }
  SimTerminalSession(const SimTerminalSession&) = delete;
  SimTerminalSession& operator=(const SimTerminalSession&) = delete;

  // Starts zephor-sim with memory as its measurement memory and opens its terminal.
  bool StartSim(const Bytes& memory) {
    WriteAll(dir_ / "memory-in.bin", memory);
    sim_ = std::make_unique<e2e::SimChild>(std::vector<std::string>{
        "--db", (dir_ / "memory-in.bin").string(), "--memory-out", memoryOut().string()});
    const std::string& ready = sim_->ready();
    const std::string prefix = "ready ";
    if (ready.rfind(prefix, 0) != 0) return false;
    terminal_ = ready.substr(prefix.size());
    while (!terminal_.empty() && (terminal_.back() == '\n' || terminal_.back() == '\r')) {
      terminal_.pop_back();
    }
    line_ = open(terminal_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    return line_ >= 0;
  }

  // Sends one command line and reads as many bytes as the awaited reply has, so whatever the
  // instrument sends next (the C of an upload) stays on the line for lrzsz.
  std::string Converse(const std::string& command, const std::string& awaited,
                       int waitMs = kReplyWaitMs) {
    if (write(line_, command.data(), command.size()) != static_cast<ssize_t>(command.size())) {
      return "(write failed)";
    }
    std::string reply;
    const auto until = LrzszClock::now() + std::chrono::milliseconds(waitMs);
    while (reply.size() < awaited.size() && LrzszClock::now() < until) {
      pollfd p{line_, POLLIN, 0};
      if (poll(&p, 1, kPollStepMs) <= 0) continue;
      char c = 0;
      if (read(line_, &c, 1) == 1) reply.push_back(c);
    }
    return reply;
  }

  // Runs program straight on the instrument's terminal; its exit code, -1 if killed.
  int RunOnTerminal(const char* program, const std::vector<std::string>& args) {
    const int fd = open(terminal_.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) return -1;
    process::ChildProcess child;
    std::string why;
    child.Start(program, args, process::ChildSetup::Lending(dir_, fd, fd, -1), why);
    close(fd);
    return child.Finish(kTransferLimitMs);
  }

  // Runs program on a socket whose bytes are relayed to and from the instrument's terminal.
  int RunBehindRelay(const char* program, const std::vector<std::string>& args) {
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) return -1;
    process::ChildProcess child;
    std::string why;
    child.Start(program, args, process::ChildSetup::Lending(dir_, sv[1], sv[1], -1), why);
    close(sv[1]);
    int code = -1;
    {
      const transfer::Relay relay(line_, sv[0]);
      code = child.Finish(kTransferLimitMs);
      // Lets the relay carry the last ACK before it stops.
      std::this_thread::sleep_for(std::chrono::milliseconds(10 * kPollStepMs));
    }
    close(sv[0]);
    return code;
  }

  // The memory the instrument holds once it equals expected, or what it held when time ran out.
  Bytes MemoryOnceEqual(const Bytes& expected) {
    Bytes now = ReadAll(memoryOut());
    const auto until = LrzszClock::now() + std::chrono::milliseconds(kMemoryWriteWaitMs);
    while (now != expected && LrzszClock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(kPollStepMs));
      now = ReadAll(memoryOut());
    }
    return now;
  }

  std::string UploadCommand(const Bytes& file) const {
    char command[64];
    std::snprintf(command, sizeof command, "UPLOAD 3 0x%zx 0x%4x\n", file.size(),
                  test::HostCrc(file));
    return command;
  }

  static std::string DownloadAnswer(std::size_t size) {
    char text[32];
    std::snprintf(text, sizeof text, "1 %zx 0\r\n", size);
    return text;
  }

  std::filesystem::path memoryOut() const { return dir_ / "memory-out.bin"; }

  // sx sends file into the instrument through UPLOAD; the memory must become exactly file.
  void UploadWithSx(const Bytes& file, const std::vector<std::string>& options) {
    SCOPED_TRACE("upload of " + std::to_string(file.size()) + " bytes");
    const Bytes before = Pattern(300, 7);
    ASSERT_NE(before, file);
    ASSERT_TRUE(StartSim(before)) << "zephor-sim said: " << sim_->ready();
    WriteAll(dir_ / "up.bin", file);
    ASSERT_EQ(Converse("UNLOCK\n", kUnlockReply), kUnlockReply);
    ASSERT_EQ(Converse(UploadCommand(file), kUploadReply), kUploadReply);
    std::vector<std::string> args = options;
    args.push_back("up.bin");
    EXPECT_EQ(RunOnTerminal(kSx, args), 0);
    EXPECT_EQ(MemoryOnceEqual(file), file);
    // The receiver has ended: commands are answered again.
    EXPECT_EQ(Converse("UNLOCK\n", kUnlockReply), kUnlockReply);
  }

  // The instrument's memory goes to rx through DOWNLOAD; rx's file must hold it whole.
  void DownloadWithRx(const Bytes& memory, const std::vector<std::string>& options) {
    SCOPED_TRACE("download of " + std::to_string(memory.size()) + " bytes");
    ASSERT_TRUE(StartSim(memory)) << "zephor-sim said: " << sim_->ready();
    ASSERT_EQ(Converse("UNLOCK\n", kUnlockReply), kUnlockReply);
    ASSERT_EQ(Converse("DOWNLOAD\n", DownloadAnswer(memory.size())), DownloadAnswer(memory.size()));
    std::vector<std::string> args = options;
    args.push_back("got.bin");
    EXPECT_EQ(RunBehindRelay(kRx, args), 0);
    EXPECT_TRUE(SameUpToPadding(ReadAll(dir_ / "got.bin"), memory));
    // The sender had its ACK to EOT: commands are answered again at once.
    EXPECT_EQ(Converse("UNLOCK\n", kUnlockReply, kBackToCommandsMs), kUnlockReply);
  }

  const support::TempDir scratch_;
  const std::filesystem::path dir_ = scratch_.path();
  std::unique_ptr<e2e::SimChild> sim_;
  std::string terminal_;
  int line_ = -1;
};

class LrzszPtyTest : public ::testing::Test, protected SimTerminalSession {};

#define SKIP_WITHOUT(program) \
  if (access(program, X_OK) != 0) GTEST_SKIP() << "lrzsz not installed: no " << program

}  // namespace zephor::sim
