// End to end: the real zephor-sim on a pseudo-terminal, driven through the POSIX driver.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "device/info_report.h"
#include "serial/posix_driver.h"
#include "serial/system_timing.h"
#include "sim/in_process.h"
#include "sim_panel.h"

namespace zephor::sim {
namespace {

// Starts zephor-sim with a link and waits for its "ready" line.
class SimProcess {
 public:
  explicit SimProcess(const std::string& args) {
    link_ = "/tmp/zephor-sim-test-" + std::to_string(getpid());
    const std::string command =
        std::string("exec ") + ZEPHOR_SIM_PATH + " --link " + link_ + " " + args + " 2>/dev/null";
    pipe_ = popen(command.c_str(), "r");
    if (pipe_ == nullptr) return;
    char line[512] = {};
    if (std::fgets(line, sizeof line, pipe_) != nullptr) ready_ = line;
  }
  ~SimProcess() {
    if (pipe_ == nullptr) return;
    std::system(("pkill -TERM -f -- '--link " + link_ + "'").c_str());
    pclose(pipe_);
  }
  const std::string& ready() const { return ready_; }
  const std::string& link() const { return link_; }

 private:
  FILE* pipe_ = nullptr;
  std::string link_;
  std::string ready_;
};

TEST(ZephorSimTest, InfoOverPseudoTerminalShowsTheInstrument) {
  SimProcess sim("--main 1.31 --boot 1.2 --update 1.2 --build 5 --grade QH --equipment 4242");
  ASSERT_EQ(sim.ready(), "ready " + sim.link() + "\n");
  setenv("ZEPHOR_COM1", sim.link().c_str(), 1);
  serial::PosixPortFactory factory;
  serial::SystemTiming timing;
  SimPanel panel;
  device::Station station;
  station.ports = {&factory, &timing};
  station.panel = &panel;
  device::OnInfo(station);
  EXPECT_EQ(station.statusText, "OK");
  EXPECT_TRUE(panel.messages.empty());
  EXPECT_NE(panel.log.find("\tNumber equipment\t: 4242\r\n"), std::string::npos) << panel.log;
  EXPECT_NE(panel.log.find("\tMain version\t: 1.31\r\n"), std::string::npos);
  unsetenv("ZEPHOR_COM1");
}

TEST(ZephorSimTest, InfoLogIsTheSameAsInVirtualTime) {
  InstrumentState state;
  state.equipmentNumber = 777;
  state.grade = "QN";
  InProcessInstrument instrument(state, Fault::kNone);
  SimPanel virtualPanel;
  device::Station virtualStation;
  virtualStation.ports = instrument.environment();
  virtualStation.panel = &virtualPanel;
  device::OnInfo(virtualStation);

  SimProcess sim("--equipment 777 --grade QN");
  ASSERT_FALSE(sim.ready().empty());
  setenv("ZEPHOR_COM1", sim.link().c_str(), 1);
  serial::PosixPortFactory factory;
  serial::SystemTiming timing;
  SimPanel panel;
  device::Station station;
  station.ports = {&factory, &timing};
  station.panel = &panel;
  device::OnInfo(station);
  unsetenv("ZEPHOR_COM1");
  EXPECT_FALSE(panel.log.empty());
  EXPECT_EQ(panel.log, virtualPanel.log);
}

TEST(ZephorSimTest, LoaderLetterOverPseudoTerminal) {
  SimProcess sim("--missing S");
  ASSERT_FALSE(sim.ready().empty());
  setenv("ZEPHOR_COM1", sim.link().c_str(), 1);
  serial::PosixPortFactory factory;
  serial::SystemTiming timing;
  SimPanel panel;
  device::Station station;
  station.ports = {&factory, &timing};
  station.panel = &panel;
  device::OnInfo(station);
  EXPECT_EQ(station.statusText, "No MAIN program");
  EXPECT_NE(panel.log.find("\tNo MAIN program \r\n"), std::string::npos);
  unsetenv("ZEPHOR_COM1");
}

}  // namespace
}  // namespace zephor::sim
