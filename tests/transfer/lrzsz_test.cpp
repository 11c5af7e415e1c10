// Interoperation with lrzsz's sx and rx over a pseudo-terminal, in real time.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "lrzsz_session.h"
#include "serial/posix_driver.h"
#include "serial/system_timing.h"
#include "transfer/xmodem.h"
#include "transfer_fixture.h"

namespace zephor::transfer {
namespace {

class LrzszTest : public TransferFixture {
 protected:
  // Starts program behind the relay and opens its pseudo-terminal's slave as our port.
  bool Start(const char* program, const std::vector<std::string>& args) {
    if (!session.Start(program, args, dir)) return false;
    setenv("ZEPHOR_COM1", session.slavePath().c_str(), 1);
    port2 = serial::OpenPort({&posixFactory, &realTime}, 0, 9600, 'N', 8, 1);
    return port2->status == serial::kOk;
  }
  // The program's exit status, or -1 when it had to be stopped.
  int Finish() {
    if (port2 != nullptr) serial::ClosePort(port2);
    port2 = nullptr;
    return session.Finish();
  }
  void TearDown() override {
    Finish();
    unsetenv("ZEPHOR_COM1");
    TransferFixture::TearDown();
  }

  serial::PosixPortFactory posixFactory;
  serial::SystemTiming realTime;
  serial::SerialPort* port2 = nullptr;
  LrzszSession session;
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
