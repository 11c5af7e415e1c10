// zephor send and zephor receive as programs, against lrzsz over a pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "lrzsz_session.h"
#include "process/child_process.h"
#include "pseudo_terminal.h"
#include "transfer_fixture.h"

namespace zephor::transfer {
namespace {

constexpr const char* kZephor = ZEPHOR_CLI_PATH;
// A send or receive of a few blocks ends well within this on a pseudo-terminal; a failure
// path adds the one-second settle after the cancel sequence.
constexpr int kCliWaitMs = 30000;

class CliTransferTest : public TransferFixture {
 protected:
  // Runs zephor with args in the scratch directory; its standard output lands in output.
  int RunZephor(const std::vector<std::string>& args) {
    const std::string outPath = PathOf("stdout.txt");
    const std::string errPath = PathOf("stderr.txt");
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    process::ChildProcess child;
    std::string why;
    child.Start(kZephor, args, process::ChildSetup::Lending(dir, -1, out, err), why);
    close(out);
    close(err);
    const int code = child.Finish(kCliWaitMs);
    output = Slurp(outPath);
    errors = Slurp(errPath);
    return code;
  }
  static std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  bool Printed(const std::string& line) const {
    return output.find(line + "\n") != std::string::npos;
  }
  void TearDown() override {
    unsetenv("ZEPHOR_COM1");
    TransferFixture::TearDown();
  }

  std::string output;
  std::string errors;
};

TEST_F(CliTransferTest, SendToRxPrintsEachMessageAndExitsZero) {
  if (access(kRx, X_OK) != 0) GTEST_SKIP() << "lrzsz rx not installed at " << kRx;
  const Bytes data = Pattern(300, 31);
  WriteFile("boot.bin", data);
  LrzszSession rx;
  ASSERT_TRUE(rx.Start(kRx, {"-c", "got.bin"}, dir));
  EXPECT_EQ(RunZephor({"send", "boot.bin", rx.slavePath()}), 0) << output << errors;
  EXPECT_EQ(rx.Finish(), 0);

  EXPECT_TRUE(Printed("Opening file boot.bin")) << output;
  EXPECT_TRUE(Printed("Sending block 1")) << output;
  EXPECT_TRUE(Printed("Sending block 3")) << output;
  EXPECT_FALSE(Printed("Sending block 4")) << output;
  EXPECT_TRUE(Printed("File transmission complete")) << output;
  EXPECT_EQ(output.find("result"), std::string::npos) << output;
  // Three blocks: the file, then zero padding to the block's end.
  Bytes expected = data;
  expected.resize(3 * kShortBlock, 0x00);
  EXPECT_EQ(ReadFile("got.bin"), expected);
}

TEST_F(CliTransferTest, ReceiveFromSxOnCom1ExitsZero) {
  if (access(kSx, X_OK) != 0) GTEST_SKIP() << "lrzsz sx not installed at " << kSx;
  const Bytes data = Pattern(2 * kShortBlock, 32);
  WriteFile("db.bin", data);
  LrzszSession sx;
  ASSERT_TRUE(sx.Start(kSx, {"db.bin"}, dir));
  setenv("ZEPHOR_COM1", sx.slavePath().c_str(), 1);
  EXPECT_EQ(RunZephor({"receive", "got.bin", "COM1"}), 0) << output << errors;
  EXPECT_EQ(sx.Finish(), 0);

  EXPECT_TRUE(Printed("Opening file got.bin")) << output;
  EXPECT_TRUE(Printed("Read 128 byte block 1")) << output;
  EXPECT_TRUE(Printed("Read 128 byte block 2")) << output;
  EXPECT_TRUE(Printed("End of file, cleaning up")) << output;
  EXPECT_EQ(ReadFile("got.bin"), data);
  EXPECT_FALSE(Exists("got.bin.part"));
}

TEST_F(CliTransferTest, MissingFilePrintsResultAndExitsTwo) {
  serial::PseudoTerminal pty;
  ASSERT_TRUE(pty.ok());
  EXPECT_EQ(RunZephor({"send", "missing.bin", pty.slavePath()}), 2);
  EXPECT_TRUE(Printed("result -619")) << output;
  // The line still hears that the transfer was given up.
  const Bytes cancel = CancelSequence();
  EXPECT_EQ(pty.Receive(cancel.size(), 1000), std::string(cancel.begin(), cancel.end()));
}

TEST_F(CliTransferTest, PortThatCannotOpenExitsThree) {
  EXPECT_EQ(RunZephor({"receive", "got.bin", (dir / "no-such-tty").string()}), 3);
  EXPECT_NE(errors.find("no-such-tty: "), std::string::npos) << errors;
  EXPECT_NE(errors.find("(status -"), std::string::npos) << errors;
  EXPECT_FALSE(Exists("got.bin"));
  EXPECT_FALSE(Exists("got.bin.part"));
}

}  // namespace
}  // namespace zephor::transfer
