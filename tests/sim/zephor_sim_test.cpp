// End to end: the real zephor-sim on a pseudo-terminal, driven through the POSIX driver.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "device/erase.h"
#include "device/info_report.h"
#include "recording_panel.h"
#include "serial/posix_driver.h"
#include "serial/system_timing.h"
#include "sim/database_generator.h"
#include "sim/in_process.h"
#include "sim_child.h"

namespace zephor::sim {
namespace {

constexpr auto kStateFilePatience = std::chrono::seconds(5);
constexpr auto kStateFilePoll = std::chrono::milliseconds(5);

// Starts zephor-sim with a link and waits for its "ready" line; stopped by its own process id.
class SimProcess {
 public:
  explicit SimProcess(const std::string& args)
      : link_("/tmp/zephor-sim-test-" + std::to_string(getpid())), child_(Arguments(link_, args)) {}
  const std::string& ready() const { return child_.ready(); }
  const std::string& link() const { return link_; }

 private:
  static std::vector<std::string> Arguments(const std::string& link, const std::string& args) {
    std::vector<std::string> list{"--link", link};
    std::istringstream words(args);
    for (std::string word; words >> word;) list.push_back(word);
    return list;
  }

  std::string link_;
  e2e::SimChild child_;
};

// A station on the simulator's terminal through the POSIX driver, in real time, as COM1.
struct PtyStation {
  explicit PtyStation(const std::string& link) {
    setenv("ZEPHOR_COM1", link.c_str(), 1);
    station.ports = {&factory, &timing};
    station.panel = &panel;
  }
  ~PtyStation() { unsetenv("ZEPHOR_COM1"); }
  PtyStation(const PtyStation&) = delete;
  PtyStation& operator=(const PtyStation&) = delete;

  serial::PosixPortFactory factory;
  serial::SystemTiming timing;
  device::RecordingPanel panel;
  device::Station station;
};

// Info through the POSIX driver shows the instrument, with the same log as in virtual time.
TEST(ZephorSimTest, InfoOverPseudoTerminalIsTheSameAsInVirtualTime) {
  InstrumentState state;
  state.mainVersion = "1.31";
  state.build = 5;
  state.grade = "QH";
  state.equipmentNumber = 4242;
  InProcessInstrument instrument(state, Fault::kNone);
  device::RecordingPanel virtualPanel;
  device::Station virtualStation;
  virtualStation.ports = instrument.environment();
  virtualStation.panel = &virtualPanel;
  device::OnInfo(virtualStation);

  SimProcess sim("--main 1.31 --boot 1.2 --update 1.2 --build 5 --grade QH --equipment 4242");
  ASSERT_EQ(sim.ready(), "ready " + sim.link() + "\n");
  PtyStation pty(sim.link());
  device::OnInfo(pty.station);
  EXPECT_EQ(pty.station.statusText, "OK");
  EXPECT_TRUE(pty.panel.messages.empty());
  EXPECT_NE(pty.panel.log.find("\tNumber equipment\t: 4242\r\n"), std::string::npos)
      << pty.panel.log;
  EXPECT_NE(pty.panel.log.find("\tMain version\t: 1.31\r\n"), std::string::npos);
  EXPECT_EQ(pty.panel.log, virtualPanel.log);
}

TEST(ZephorSimTest, LoaderLetterOverPseudoTerminal) {
  SimProcess sim("--missing S");
  ASSERT_FALSE(sim.ready().empty());
  PtyStation pty(sim.link());
  device::RecordingPanel& panel = pty.panel;
  device::Station& station = pty.station;
  device::OnInfo(station);
  EXPECT_EQ(station.statusText, "No MAIN program");
  EXPECT_NE(panel.log.find("\tNo MAIN program \r\n"), std::string::npos);
}

TEST(ZephorSimTest, StateFileShowsGeneratedMemoryAndTheErase) {
  const std::string stateFile = "/tmp/zephor-sim-state-" + std::to_string(getpid());
  const std::string memoryFile = stateFile + ".bin";
  auto slurp = [](const std::string& path) {
    std::string text;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
      char buf[4096];
      for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
      std::fclose(f);
    }
    return text;
  };
  const auto memory = GenerateDatabase(5, 3000);
  {
    SimProcess sim("--generate-db 5:3000 --main 1.40 --build 7 --state-out " + stateFile +
                   " --memory-out " + memoryFile);
    ASSERT_FALSE(sim.ready().empty());
    EXPECT_EQ(slurp(stateFile),
              "boot=1.2\nupdate=1.2\nmain=1.40\nbuild=7\ngrade=QH\nmemory_bytes=" +
                  std::to_string(memory.size()) + "\n");
    EXPECT_EQ(slurp(memoryFile), std::string(memory.begin(), memory.end()));
    // The erase by hand: the updater's own waits out its reply for five seconds.
    const int line = open(sim.link().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(line, 0);
    const std::string commands = "UNLOCK\nerase " + std::to_string(device::kEraseCode) + "\n";
    EXPECT_EQ(write(line, commands.data(), commands.size()), static_cast<ssize_t>(commands.size()));
    const auto giveUp = std::chrono::steady_clock::now() + kStateFilePatience;
    while (slurp(stateFile).find("memory_bytes=0\n") == std::string::npos &&
           std::chrono::steady_clock::now() < giveUp) {
      std::this_thread::sleep_for(kStateFilePoll);
    }
    close(line);
  }
  EXPECT_NE(slurp(stateFile).find("memory_bytes=0\n"), std::string::npos);
  EXPECT_EQ(slurp(memoryFile), "");
  std::remove(stateFile.c_str());
  std::remove(memoryFile.c_str());
}

}  // namespace
}  // namespace zephor::sim
