// End to end: `zephor update` loads every image into zephor-sim over a pseudo-terminal, and the
// simulator reports the versions it now runs.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "image_set.h"
#include "sim_child.h"
#include "temp_dir.h"

namespace zephor::update {
namespace {

using e2e::ReadWhole;
using e2e::SimChild;

TEST(CliUpdateTest, FullUpdateLeavesTheNewVersionsInTheSimulator) {
  TempDir dir;
  script::WriteImageSet(dir, {"1.3", "1.3", "1.32", "9"});
  const std::string link = (dir.path() / "com1").string();
  const std::string state = (dir.path() / "state.txt").string();
  SimChild sim({"--link", link, "--main", "1.31", "--boot", "1.2", "--update", "1.2", "--build",
                "5", "--grade", "QN", "--ready-delay", "200", "--state-out", state});
  ASSERT_EQ(sim.ready(), "ready " + link + "\n");

  const std::string log = (dir.path() / "log.txt").string();
  const std::string command = std::string(ZEPHOR_CLI_PATH) + " update " + link +
                              " --yes --images " + dir.path().string() + " > " + log +
                              " 2>&1 < /dev/null";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  const std::string printed = ReadWhole(log);
  EXPECT_NE(printed.find("\tLoad of new boot Done\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("\tUpdate finished.\n"), std::string::npos);
  EXPECT_NE(printed.find("Restart the ZEPHOR !!"), std::string::npos);
  EXPECT_EQ(printed.find("Update stopped"), std::string::npos);

  const std::string summary = ReadWhole(state);
  EXPECT_NE(summary.find("boot=1.3\n"), std::string::npos) << summary;
  EXPECT_NE(summary.find("update=1.3\n"), std::string::npos);
  EXPECT_NE(summary.find("main=1.32\n"), std::string::npos);
  EXPECT_NE(summary.find("build=9\n"), std::string::npos);
}

TEST(CliUpdateTest, CancelOfTheV140WarningEndsWithCodeOneAndLoadsNothing) {
  TempDir dir;
  script::WriteImageSet(dir, {"1.2", "1.2", "1.40", "5"});
  const std::string link = (dir.path() / "com1").string();
  const std::string state = (dir.path() / "state.txt").string();
  SimChild sim({"--link", link, "--main", "1.31", "--grade", "Q", "--state-out", state});
  ASSERT_EQ(sim.ready(), "ready " + link + "\n");
  const std::string command = std::string(ZEPHOR_CLI_PATH) + " update " + link + " --no --images " +
                              dir.path().string() + " > /dev/null 2>&1 < /dev/null";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_NE(ReadWhole(state).find("main=1.31\n"), std::string::npos);
}

}  // namespace
}  // namespace zephor::update
