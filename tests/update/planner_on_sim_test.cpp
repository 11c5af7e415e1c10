// Make Update against the simulated instrument: its loaders take the images and adopt their
// stamps, and the database restore follows a 1.40 main.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image_set.h"
#include "recording_panel.h"
#include "sim/in_process.h"
#include "temp_dir.h"
#include "update/update_planner.h"

namespace zephor::update {
namespace {

sim::InstrumentState Instrument(const std::string& main, const std::string& grade) {
  sim::InstrumentState state;
  state.bootVersion = "1.2";
  state.updateVersion = "1.2";
  state.mainVersion = main;
  state.build = 5;
  state.grade = grade;
  return state;
}

class PlannerOnSimTest : public ::testing::Test {
 protected:
  void Run(sim::InstrumentState state, const script::ImageStamps& stamps) {
    script::WriteImageSet(dir, stamps);
    instrument = std::make_unique<sim::InProcessInstrument>(std::move(state), sim::Fault::kNone);
    station.ports = instrument->environment();
    station.panel = &panel;
    OnMakeUpdate(station, dir.path());
  }
  void TearDown() override { EXPECT_EQ(serial::OpenPortCount(), 0); }
  bool Has(const std::string& text) const { return panel.log.find(text) != std::string::npos; }

  TempDir dir;
  RecordingPanel panel;
  device::Station station;
  std::unique_ptr<sim::InProcessInstrument> instrument;
};

TEST_F(PlannerOnSimTest, FullUpdateLeavesTheImageVersionsInTheInstrument) {
  Run(Instrument("1.31", "QN"), {"1.3", "1.3", "1.32", "9"});
  EXPECT_TRUE(Has("\tUpdate finished.\r\n")) << panel.log;
  EXPECT_TRUE(Has("\tLoad of new boot Done\r\n"));
  EXPECT_TRUE(Has("\tLoad of new update Done\r\n"));
  const sim::InstrumentState& after = instrument->model().state();
  EXPECT_EQ(after.bootVersion, "1.3");
  EXPECT_EQ(after.updateVersion, "1.3");
  EXPECT_EQ(after.mainVersion, "1.32");
  EXPECT_EQ(after.build, 9);
  EXPECT_EQ(panel.messages, std::vector<std::string>{"Restart the ZEPHOR !!"});
  EXPECT_EQ(panel.progress.back(), 0);
}

TEST_F(PlannerOnSimTest, GradeQFromOnePointTwoEightConvertsThenLoadsTheNewMainAndErases) {
  auto state = Instrument("1.28", "Q");
  state.memory = std::vector<std::uint8_t>(64, 0x5A);
  Run(std::move(state), {"1.2", "1.2", "1.40", "5"});
  EXPECT_EQ(panel.messages, (std::vector<std::string>{kQWarningText, "Restart the ZEPHOR !!"}));
  const std::size_t special = panel.log.find("\tLoad of special main Done\r\n");
  const std::size_t main = panel.log.find("\tUpdate main program Done\r\n");
  ASSERT_NE(special, std::string::npos) << panel.log;
  ASSERT_NE(main, std::string::npos);
  EXPECT_LT(special, main);
  // The restore of a "Q" instrument erases only, as a section of its own.
  EXPECT_TRUE(Has("\tErase data ZEPHOR.\r\n"));
  EXPECT_TRUE(Has("\tFinished.\r\n"));
  EXPECT_EQ(instrument->model().state().mainVersion, "1.40");
  EXPECT_TRUE(instrument->model().state().memory.empty());
  const std::vector<int> tail(panel.progress.end() - 4, panel.progress.end());
  EXPECT_EQ(tail, (std::vector<int>{10, 30, 100, 0}));
}

TEST_F(PlannerOnSimTest, EmptyDatabaseEndsTheRestoreAtThirtyBeforeTheRestart) {
  Run(Instrument("1.31", "QN"), {"1.2", "1.2", "1.40", "5"});
  EXPECT_EQ(instrument->model().state().mainVersion, "1.40");
  EXPECT_EQ(panel.messages.back(), "Restart the ZEPHOR !!");
  // The download resets the bar on an empty database; the planner then ends at 0.
  const std::vector<int> tail(panel.progress.end() - 4, panel.progress.end());
  EXPECT_EQ(tail, (std::vector<int>{10, 30, 0, 0}));
  EXPECT_FALSE(Has("Erase data"));
}

}  // namespace
}  // namespace zephor::update
