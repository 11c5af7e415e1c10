// Interoperation with lrzsz's sx and rx over a pseudo-terminal, in real time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "serial/posix_driver.h"
#include "serial/system_timing.h"
#include "transfer/xmodem.h"
#include "transfer_fixture.h"

namespace zephor::transfer {
namespace {

constexpr const char* kSx = "/usr/bin/sx";
constexpr const char* kRx = "/usr/bin/rx";
constexpr int kChildWaitMs = 20000;

// Copies bytes both ways between the pseudo-terminal master and lrzsz's socket: lrzsz's
// flushes on a socket fail harmlessly instead of discarding our last bytes.
class Relay {
 public:
  Relay(int master, int sock) : master_(master), sock_(sock), thread_([this] { Run(); }) {}
  ~Relay() {
    stop_ = true;
    thread_.join();
  }

 private:
  void Run() {
    char buf[512];
    while (!stop_) {
      pollfd fds[2] = {{master_, POLLIN, 0}, {sock_, POLLIN, 0}};
      if (poll(fds, 2, 10) <= 0) continue;
      if (fds[0].revents & POLLIN) Copy(master_, sock_, buf, sizeof buf);
      if (fds[1].revents & POLLIN) Copy(sock_, master_, buf, sizeof buf);
    }
  }
  static void Copy(int from, int to, char* buf, std::size_t size) {
    const ssize_t n = read(from, buf, size);
    for (ssize_t done = 0; n > 0 && done < n;) {
      const ssize_t w = write(to, buf + done, static_cast<std::size_t>(n - done));
      if (w > 0) done += w;
    }
  }
  int master_;
  int sock_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

class LrzszTest : public TransferFixture {
 protected:
  // Opens a pseudo-terminal, names its slave as COM1 and starts program on a socketpair.
  bool Start(const char* program, std::vector<std::string> args) {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return false;
    setenv("ZEPHOR_COM1", ptsname(master), 1);
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) return false;
    child = fork();
    if (child == 0) {
      dup2(sv[1], 0);
      dup2(sv[1], 1);
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 2);
      close(sv[0]);
      close(sv[1]);
      close(master);
      std::vector<char*> argv{const_cast<char*>(program)};
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      if (chdir(dir.c_str()) == 0) execv(program, argv.data());
      _exit(127);
    }
    close(sv[1]);
    sock = sv[0];
    relay = std::make_unique<Relay>(master, sock);
    port2 = serial::OpenPort({&posixFactory, &realTime}, 0, 9600, 'N', 8, 1);
    return port2->status == serial::kOk;
  }
  // The child's exit status, or -1 when it had to be stopped.
  int Finish() {
    if (port2 != nullptr) serial::ClosePort(port2);
    port2 = nullptr;
    int status = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kChildWaitMs);
    while (waitpid(child, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > until) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        status = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    relay.reset();
    close(sock);
    close(master);
    child = -1;
    return status < 0 ? -1 : (WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  }
  void TearDown() override {
    if (child > 0) Finish();
    unsetenv("ZEPHOR_COM1");
    TransferFixture::TearDown();
  }

  serial::PosixPortFactory posixFactory;
  serial::SystemTiming realTime;
  serial::SerialPort* port2 = nullptr;
  int master = -1;
  int sock = -1;
  pid_t child = -1;
  std::unique_ptr<Relay> relay;
};

TEST_F(LrzszTest, SendFileToRx) {
  if (access(kRx, X_OK) != 0) GTEST_SKIP() << "lrzsz rx not installed at " << kRx;
  const Bytes data = Pattern(1000, 21);
  WriteFile("boot.bin", data);
  ASSERT_TRUE(Start(kRx, {"-c", "got.bin"}));
  EXPECT_EQ(SendFile(*port2, PathOf("boot.bin")), 1);
  EXPECT_EQ(Finish(), 0);
  const Bytes got = ReadFile("got.bin");
  ASSERT_GE(got.size(), data.size());
  EXPECT_EQ(Bytes(got.begin(), got.begin() + static_cast<long>(data.size())), data);
}

TEST_F(LrzszTest, ReceiveFileFromSx) {
  if (access(kSx, X_OK) != 0) GTEST_SKIP() << "lrzsz sx not installed at " << kSx;
  const Bytes data = Pattern(1280, 22);
  WriteFile("db.bin", data);
  ASSERT_TRUE(Start(kSx, {"db.bin"}));
  EXPECT_EQ(ReceiveFile(*port2, PathOf("got.bin")), 1);
  EXPECT_EQ(Finish(), 0);
  EXPECT_EQ(ReadFile("got.bin"), data);
}

TEST_F(LrzszTest, ReceiveLongBlocksFromSx) {
  if (access(kSx, X_OK) != 0) GTEST_SKIP() << "lrzsz sx not installed at " << kSx;
  const Bytes data = Pattern(3 * 1024, 23);
  WriteFile("db.bin", data);
  ASSERT_TRUE(Start(kSx, {"-k", "db.bin"}));
  EXPECT_EQ(ReceiveFile(*port2, PathOf("got.bin")), 1);
  EXPECT_EQ(Finish(), 0);
  EXPECT_EQ(ReadFile("got.bin"), data);
}

}  // namespace
}  // namespace zephor::transfer
