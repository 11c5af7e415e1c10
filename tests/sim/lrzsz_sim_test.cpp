// The instrument's XMODEM against lrzsz in real time: sx feeds its receiver, rx reads its sender.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "sim/instrument_model.h"
#include "temp_dir.h"
#include "wire_host.h"

namespace zephor::sim {
namespace {

using test::Bytes;

constexpr const char* kSx = "/usr/bin/sx";
constexpr const char* kRx = "/usr/bin/rx";
constexpr int kRunLimitMs = 30000;

std::uint32_t NowMs() {
  using namespace std::chrono;
  return static_cast<std::uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// lrzsz on a socketpair: its flushes of a terminal fail harmlessly there, so no byte is lost.
class LrzszPeer {
 public:
  LrzszPeer(const char* program, std::vector<std::string> args, const std::filesystem::path& dir) {
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) return;
    child_ = fork();
    if (child_ == 0) {
      dup2(sv[1], 0);
      dup2(sv[1], 1);
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 2);
      close(sv[0]);
      close(sv[1]);
      std::vector<char*> argv{const_cast<char*>(program)};
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      if (chdir(dir.c_str()) == 0) execv(program, argv.data());
      _exit(127);
    }
    close(sv[1]);
    sock_ = sv[0];
    fcntl(sock_, F_SETFL, fcntl(sock_, F_GETFL) | O_NONBLOCK);
  }
  ~LrzszPeer() {
    if (sock_ >= 0) close(sock_);
    if (child_ > 0) {
      kill(child_, SIGKILL);
      waitpid(child_, nullptr, 0);
    }
  }
  // Runs the model against the peer until the transfer ends; false on time-out.
  bool Run(InstrumentModel& model, Bytes pending) {
    const std::uint32_t start = NowMs();
    bool started = false;
    while (NowMs() - start < kRunLimitMs) {
      if (!pending.empty()) {
        if (write(sock_, pending.data(), pending.size()) > 0) pending.clear();
      }
      pollfd p{sock_, POLLIN, 0};
      poll(&p, 1, 1);
      std::uint8_t buf[512];
      ssize_t n;
      const std::uint32_t now = NowMs();
      while ((n = read(sock_, buf, sizeof buf)) > 0)
        for (ssize_t i = 0; i < n; ++i) model.Receive(buf[i], now);
      const auto out = model.Transmit(now);
      for (std::size_t done = 0; done < out.size();) {
        const ssize_t w = write(sock_, out.data() + done, out.size() - done);
        if (w > 0) done += static_cast<std::size_t>(w);
      }
      started = started || model.transferActive();
      if (started && !model.transferActive()) return true;
    }
    return false;
  }
  // The child's exit status, waiting a few seconds for it.
  int Wait() {
    int status = 0;
    for (int i = 0; i < 500; ++i) {
      if (waitpid(child_, &status, WNOHANG) == child_) {
        child_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      usleep(10000);
    }
    return -1;
  }
  bool ok() const { return sock_ >= 0 && child_ > 0; }

 private:
  int sock_ = -1;
  pid_t child_ = -1;
};

class LrzszSimTest : public ::testing::Test {
 protected:
  // Sends the command straight to the model and returns what it put on the line after reply.
  static Bytes Command(InstrumentModel& model, const std::string& command, std::size_t replySize) {
    const std::uint32_t now = NowMs();
    for (char c : command) model.Receive(static_cast<std::uint8_t>(c), now);
    Bytes out = model.Transmit(now);
    return Bytes(out.begin() + static_cast<long>(std::min(replySize, out.size())), out.end());
  }
  const support::TempDir scratch_;
  const std::filesystem::path dir_ = scratch_.path();
};

Bytes Pattern(std::size_t size) {
  Bytes b(size);
  for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>((i * 131) ^ (i >> 3));
  return b;
}

TEST_F(LrzszSimTest, SimReceiverTakesAnUploadFromSx) {
  if (access(kSx, X_OK) != 0) GTEST_SKIP() << "lrzsz sx not installed at " << kSx;
  const Bytes file = Pattern(1000);
  std::ofstream(dir_ / "conv.bin", std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  InstrumentModel model(InstrumentState{}, Fault::kNone);
  Command(model, "UNLOCK\n", 4);
  char command[64];
  std::snprintf(command, sizeof command, "UPLOAD 3 0x%zx 0x%4x\n", file.size(),
                test::HostCrc(file));
  const Bytes start = Command(model, command, 4);  // after "OK\r\n" comes the C
  ASSERT_EQ(start, Bytes{'C'});
  LrzszPeer sx(kSx, {"conv.bin"}, dir_);
  ASSERT_TRUE(sx.ok());
  ASSERT_TRUE(sx.Run(model, start));
  EXPECT_EQ(sx.Wait(), 0);
  EXPECT_EQ(model.state().memory, file);
}

TEST_F(LrzszSimTest, SimSenderGivesTheMemoryToRx) {
  if (access(kRx, X_OK) != 0) GTEST_SKIP() << "lrzsz rx not installed at " << kRx;
  InstrumentState state;
  state.memory = Pattern(1500);
  InstrumentModel model(state, Fault::kNone);
  Command(model, "UNLOCK\n", 4);
  const Bytes rest = Command(model, "DOWNLOAD\n", 9);  // "1 5dc 0\r\n"
  EXPECT_TRUE(rest.empty());
  LrzszPeer rx(kRx, {"-c", "got.bin"}, dir_);
  ASSERT_TRUE(rx.ok());
  ASSERT_TRUE(rx.Run(model, {}));
  EXPECT_EQ(rx.Wait(), 0);
  std::ifstream in(dir_ / "got.bin", std::ios::binary);
  const Bytes got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GE(got.size(), state.memory.size());
  EXPECT_EQ(Bytes(got.begin(), got.begin() + 1500), state.memory);
}

}  // namespace
}  // namespace zephor::sim
