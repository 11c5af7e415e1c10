// The planner against the simulated instrument's conversation and scripted loaders: the decision
// table, missing programs, warnings and their Cancel paths, the special main, failures.
#include "update/update_planner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "image_set.h"
#include "independent_checks.h"
#include "recording_panel.h"
#include "serial/memory_line.h"
#include "staged_fixture.h"
#include "staged_instrument.h"
#include "temp_dir.h"
#include "update/run_journal.h"

namespace zephor::update {
namespace {

using script::Conversation;
using script::ImageStamps;
using script::Loading;
using script::MainPathLoader;
using script::Stage;
using script::StagedInstrument;

constexpr char kRestart[] = "Restart the ZEPHOR !!";
constexpr char kUpdateHeading[] = "\t----  Update ----\r\n";
constexpr char kUpToDate[] =
    "\t----  ZEPHOR  ----\r\n\t--------------------------\r\n"
    "\tYour ZEPHOR is up to date\r\n";
constexpr char kStopped[] =
    "\t----  Error ----\r\n\t-----------------------\r\n"
    "\tUpdate stopped !!\r\n";
enum Image { kNewBoot, kBoot, kUpdate, kSpecial, kMain };

sim::InstrumentState Instrument(const std::string& boot, const std::string& update,
                                const std::string& main, int build, const std::string& grade) {
  sim::InstrumentState state;
  state.bootVersion = boot;
  state.updateVersion = update;
  state.mainVersion = main;
  state.build = build;
  state.grade = grade;
  return state;
}

class UpdatePlannerTest : public StagedFixture {
 protected:
  // without names an image file to leave out of the set.
  void Run(sim::InstrumentState state, std::vector<Stage> stages, const ImageStamps& stamps,
           const char* without = nullptr) {
    images = script::WriteImageSet(dir, stamps);
    if (without != nullptr) std::filesystem::remove(dir.path() / without);
    PutInstrument(std::move(state), std::move(stages));
    OnMakeUpdate(station, dir.path());
  }

  UpdateOutcome RunWithOutcome(sim::InstrumentState state, std::vector<Stage> stages,
                               const ImageStamps& stamps) {
    images = script::WriteImageSet(dir, stamps);
    PutInstrument(std::move(state), std::move(stages));
    return OnMakeUpdate(station, dir.path());
  }

  bool Has(const std::string& text) const { return panel.log.find(text) != std::string::npos; }
};

std::vector<char> ReadAllBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(UpdatePlannerConstants, NewLayoutMainIsTheSinglePrecisionOnePointFour) {
  EXPECT_EQ(std::bit_cast<std::uint32_t>(1.4f), kNewLayoutMainBits);
  EXPECT_TRUE(IsNewLayoutMain(1.4f));
  EXPECT_FALSE(IsNewLayoutMain(std::nextafter(1.4f, 2.0f)));
  EXPECT_FALSE(IsNewLayoutMain(static_cast<float>(1.4 + 1e-7)));
}

// One row of the decision table: which programs the comparisons mark for reload.
struct DecisionRow {
  const char* name;
  float dB, dU, dM;
  int dBuild;
  float iB, iU, iM, iBuild;
  bool boot, update, main;
};

// Rows print as their names in test listings.
void PrintTo(const DecisionRow& row, std::ostream* out) { *out << row.name; }

class DecideLoadsTest : public ::testing::TestWithParam<DecisionRow> {};

TEST_P(DecideLoadsTest, MarksThePrograms) {
  const DecisionRow& row = GetParam();
  device::DeviceInfo info;
  info.bootVersion = row.dB;
  info.updateVersion = row.dU;
  info.mainVersion = row.dM;
  info.build = row.dBuild;
  const ImageVersions images{row.iB, row.iU, row.iM, row.iBuild};
  const UpdatePlan plan = DecideLoads(info, images);
  EXPECT_EQ(plan.loadBoot, row.boot);
  EXPECT_EQ(plan.loadUpdate, row.update);
  EXPECT_EQ(plan.loadMain, row.main);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DecideLoadsTest,
    ::testing::Values(
        DecisionRow{"AllEqual", 1.2f, 1.2f, 1.4f, 5, 1.2f, 1.2f, 1.4f, 5, false, false, false},
        DecisionRow{"AllNewer", 1.2f, 1.2f, 1.31f, 5, 1.3f, 1.3f, 1.4f, 5, true, true, true},
        DecisionRow{"OlderImagesLoadNothing", 1.3f, 1.3f, 1.4f, 5, 1.2f, 1.2f, 1.31f, 9, false,
                    false, false},
        DecisionRow{"NewerBuild", 1.2f, 1.2f, 1.4f, 5, 1.2f, 1.2f, 1.4f, 7, false, false, true},
        DecisionRow{"OlderBuild", 1.2f, 1.2f, 1.4f, 7, 1.2f, 1.2f, 1.4f, 5, false, false, false},
        DecisionRow{"BuildCountsOnlyForEqualMain", 1.2f, 1.2f, 1.41f, 5, 1.2f, 1.2f, 1.4f, 9, false,
                    false, false},
        // A negative build is a huge unsigned count, never below the image's build.
        DecisionRow{"NegativeBuildIsHuge", 1.2f, 1.2f, 1.4f, -1, 1.2f, 1.2f, 1.4f, 7, false, false,
                    false},
        DecisionRow{"BogusBoot", 25.0f, 1.2f, 1.4f, 5, 1.2f, 1.2f, 1.4f, 5, true, false, false},
        DecisionRow{"JustBelowBogus", 24.99f, 1.2f, 1.4f, 5, 1.2f, 1.2f, 1.4f, 5, false, false,
                    false},
        DecisionRow{"BogusUpdateAndMain", 1.2f, 30.0f, 25.0f, 5, 1.2f, 1.2f, 1.4f, 5, false, true,
                    true},
        DecisionRow{"EqualTextsCompareEqual", 1.31f, 1.31f, 1.31f, 5, 1.31f, 1.31f, 1.31f, 5, false,
                    false, false}),
    [](const ::testing::TestParamInfo<DecisionRow>& info) { return info.param.name; });

TEST_F(UpdatePlannerTest, UpToDateShowsTheSectionAndTheRestartMessage) {
  Run(Instrument("1.2", "1.2", "1.40", 5, "QN"), {Conversation()}, {"1.2", "1.2", "1.40", "5"});
  EXPECT_TRUE(Has(kUpToDate));
  EXPECT_FALSE(Has(kUpdateHeading));
  EXPECT_EQ(panel.messages, std::vector<std::string>{kRestart});
  EXPECT_EQ(panel.progress.back(), 0);
  EXPECT_EQ(instrument->openings(), 1u);
  EXPECT_EQ(station.grade, "QN");
}

TEST_F(UpdatePlannerTest, DefaultsOfUnstampedImagesMatchAnInstrumentAtThem) {
  Run(Instrument("3.2", "1.2", "1.3", 1, "QN"), {Conversation()}, {});
  EXPECT_TRUE(Has(kUpToDate));
  EXPECT_EQ(panel.messages, std::vector<std::string>{kRestart});
}

TEST_F(UpdatePlannerTest, NewerBuildLoadsTheMainAloneWithItsHeader) {
  Run(Instrument("1.2", "1.2", "1.40", 5, "QH"), {Conversation(), Loading(MainPathLoader())},
      {"1.2", "1.2", "1.40", "7"});
  EXPECT_NE(panel.log.find(std::string(kUpdateHeading) + "\t-----------------------\r\n"
                                                         "\tUpdate main program in progress...\r\n"
                                                         "\tUpdate main program Done\r\n"
                                                         "\tUpdate finished.\r\n"),
            std::string::npos)
      << panel.log;
  ExpectLoaded(1, kMain);
  EXPECT_EQ(panel.messages, std::vector<std::string>{kRestart});

  // The short header, worked out here from the file itself.
  const auto& header = instrument->stages()[1].loader.header;
  const auto& main = images[kMain];
  ASSERT_EQ(header.size(), 19u);
  EXPECT_EQ(header[0], 0x01);
  EXPECT_EQ(header[1], 0x02);
  EXPECT_EQ(std::string(header.begin() + 2, header.begin() + 10), "00000700");
  EXPECT_EQ(header[10], 0x1F);
  EXPECT_EQ(std::string(header.begin() + 11, header.begin() + 16),
            script::FiveDigits(script::ByteSum(main)));
  EXPECT_EQ(header[16], 0x03);
  const unsigned crc = script::BitwiseCrc(header, 1, 16);
  EXPECT_EQ(header[17], crc >> 8);
  EXPECT_EQ(header[18], crc & 0xFF);
}

// An open restore the operator leaves for later stops the run before any load: the memory may
// be empty, with the surveys only in their backup, and nothing is called up to date.
TEST_F(UpdatePlannerTest, DeclinedOpenRestoreStopsBeforeAnyLoad) {
  RunJournal open;
  open.info.equipmentNumber = 123456789;
  open.info.grade = "QH";
  open.restoreFollows = true;
  open.loaded = {"main.bin"};
  open.restoreStage = RestoreStage::kErased;
  open.backup = {"ZEPHORdata-123456789-20261207T120000Z.bin", 100, 7};
  const auto path = JournalPath(dir.path(), 123456789);
  ASSERT_TRUE(WriteJournal(files::SystemDisk(), path, open));
  const auto before = ReadAllBytes(path);
  panel.answerOk = false;
  EXPECT_EQ(
      RunWithOutcome(Instrument("1.2", "1.2", "1.40", 5, "QH"),
                     {Conversation(), Loading(MainPathLoader())}, {"1.2", "1.2", "1.40", "7"}),
      UpdateOutcome::kRestoreIncomplete);
  EXPECT_EQ(instrument->openings(), 1u);
  EXPECT_TRUE(instrument->stages()[1].loader.header.empty());
  ASSERT_EQ(panel.messages.size(), 2u);
  EXPECT_EQ(panel.messages[1],
            "The database restore of ZEPHOR 123456789 is still open: its update stopped after "
            "erasing its memory: the surveys are in ZEPHORdata-123456789-20261207T120000Z.bin. "
            "Nothing was loaded. Press Make Update again and answer OK to finish it, or end it "
            "with: zephor restore PORT --close");
  EXPECT_FALSE(Has("up to date"));
  EXPECT_EQ(ReadAllBytes(path), before);
}

TEST_F(UpdatePlannerTest, EqualBuildIsUpToDate) {
  Run(Instrument("1.2", "1.2", "1.40", 7, "QH"), {Conversation()}, {"1.2", "1.2", "1.40", "7"});
  EXPECT_TRUE(Has(kUpToDate));
  EXPECT_EQ(instrument->openings(), 1u);
}

// The rows of the table that mark programs but run no sequence.
struct NoLoadRow {
  const char* name;
  ImageStamps stamps;
  const char* deviceBoot;
};

void PrintTo(const NoLoadRow& row, std::ostream* out) { *out << row.name; }

class NoLoadRowTest : public UpdatePlannerTest, public ::testing::WithParamInterface<NoLoadRow> {};

TEST_P(NoLoadRowTest, LoadsNothingAndStillAsksForTheRestart) {
  Run(Instrument(GetParam().deviceBoot, "1.2", "1.32", 5, "QN"), {Conversation()},
      GetParam().stamps);
  EXPECT_FALSE(Has(kUpdateHeading));
  EXPECT_FALSE(Has("up to date"));
  EXPECT_EQ(panel.messages, std::vector<std::string>{kRestart});
  EXPECT_EQ(instrument->openings(), 1u);
  EXPECT_EQ(panel.progress.back(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, NoLoadRowTest,
    ::testing::Values(NoLoadRow{"BootOnly", {"1.3", "1.2", "1.32", "5"}, "1.2"},
                      NoLoadRow{"UpdateOnly", {"1.2", "1.3", "1.32", "5"}, "1.2"},
                      NoLoadRow{"BootAndUpdate", {"1.3", "1.3", "1.32", "5"}, "1.2"},
                      NoLoadRow{"BootAndMain", {"1.3", "1.2", "1.35", "5"}, "1.2"},
                      NoLoadRow{"BogusBootAlone", {"1.2", "1.2", "1.32", "5"}, "25"}),
    [](const ::testing::TestParamInfo<NoLoadRow>& info) { return info.param.name; });

TEST_F(UpdatePlannerTest, NewLayoutMainThatIsNotLoadedLeavesTheMemoryAlone) {
  // Boot and main newer, update not: no sequence runs, so the old main keeps its database and no
  // restore may wait for it, save it or erase it.
  Run(Instrument("1.2", "1.2", "1.31", 5, "QN"), {Conversation()}, {"1.3", "1.2", "1.40", "5"});
  EXPECT_FALSE(Has(kUpdateHeading));
  EXPECT_EQ(panel.messages, std::vector<std::string>{kRestart});
  EXPECT_EQ(instrument->openings(), 1u);
  EXPECT_EQ(std::count(panel.progress.begin(), panel.progress.end(), 10), 0);
}

TEST_F(UpdatePlannerTest, AllNewerRunsTheFullUpdateInOrder) {
  Run(Instrument("1.2", "1.2", "1.31", 5, "QN"),
      {Conversation(), Loading(MainPathLoader()), Loading(script::BootLoader()),
       Loading(script::UpdateLoader()), Loading(MainPathLoader())},
      {"1.3", "1.3", "1.32", "5"});
  ExpectLoaded(1, kNewBoot);
  ExpectLoaded(2, kBoot);
  ExpectLoaded(3, kUpdate);
  ExpectLoaded(4, kMain);
  EXPECT_TRUE(Has("\tLoad of new boot Done\r\n\tLoad of new update in progress...\r\n"));
  EXPECT_EQ(panel.messages, std::vector<std::string>{kRestart});
}

TEST_F(UpdatePlannerTest, UpdateAndMainNewerSkipBoot) {
  Run(Instrument("1.2", "1.2", "1.31", 5, "QN"),
      {Conversation(), Loading(script::UpdateLoader()), Loading(MainPathLoader())},
      {"1.2", "1.3", "1.32", "5"});
  ExpectLoaded(1, kUpdate);
  ExpectLoaded(2, kMain);
  EXPECT_FALSE(Has("new boot"));
}

TEST_F(UpdatePlannerTest, UnstampedMainCountsAsOnePointThreeAndGetsTheSpecialMainFirst) {
  Run(Instrument("1.2", "1.2", "1.28", 5, "Q"),
      {Conversation(), Loading(MainPathLoader(script::kConversionLine)), Loading(MainPathLoader())},
      {"1.2", "1.2", "", ""});
  ExpectLoaded(1, kSpecial);
  ExpectLoaded(2, kMain);
  // 1.3 is no 1.40: neither the warning nor the database restore.
  EXPECT_EQ(panel.messages, std::vector<std::string>{kRestart});
  EXPECT_EQ(instrument->openings(), 3u);
}

TEST_F(UpdatePlannerTest, GradeQnAtOnePointTwoEightGetsTheSpecialMainWithoutWarning) {
  Run(Instrument("1.2", "1.2", "1.28", 5, "QN"),
      {Conversation(), Loading(MainPathLoader(script::kConversionLine)), Loading(MainPathLoader())},
      {"1.2", "1.2", "1.32", "5"});
  ExpectLoaded(1, kSpecial);
  ExpectLoaded(2, kMain);
  EXPECT_TRUE(Has("\tLoad of special main Done\r\n\tUpdate main program in progress...\r\n"));
  EXPECT_EQ(panel.messages, std::vector<std::string>{kRestart});
}

TEST_F(UpdatePlannerTest, AboveOnePointTwoEightNoSpecialMain) {
  Run(Instrument("1.2", "1.2", "1.29", 5, "Q"), {Conversation(), Loading(MainPathLoader())},
      {"1.2", "1.2", "1.32", "5"});
  ExpectLoaded(1, kMain);
  EXPECT_FALSE(Has("special main"));
}

TEST_F(UpdatePlannerTest, QhWarningComesBeforeAnyLoadAndCancelEndsSilently) {
  panel.answerOk = false;
  Run(Instrument("1.2", "1.2", "1.28", 5, "QH"), {Conversation(), Loading(MainPathLoader())},
      {"1.2", "1.2", "1.40", "5"});
  EXPECT_EQ(panel.messages, std::vector<std::string>{kQhWarningText});
  EXPECT_EQ(instrument->openings(), 1u);
  EXPECT_FALSE(Has(kUpdateHeading));
  EXPECT_FALSE(Has("Erase"));
  EXPECT_TRUE(panel.exitCodes.empty());
  EXPECT_TRUE(instrument->stages()[1].loader.header.empty());
}

TEST_F(UpdatePlannerTest, QhWarningOkErasesAsAStepLineThenLoads) {
  // Identification, the look at the (empty) memory before the erase, the erase, the look that
  // proves it, the load.
  Run(Instrument("1.2", "1.2", "1.28", 5, "QH"),
      {Conversation(), Conversation(), Conversation(), Conversation(), Loading(MainPathLoader())},
      {"1.2", "1.2", "1.32", "5"});
  EXPECT_EQ(panel.messages, (std::vector<std::string>{kQhWarningText, kRestart}));
  const auto& commands = instrument->model().commands();
  EXPECT_NE(std::find(commands.begin(), commands.end(), "erase 40718293"), commands.end());
  const std::size_t erase = panel.log.find("\tErase data ZEPHOR.\r\n");
  ASSERT_NE(erase, std::string::npos);
  EXPECT_LT(erase, panel.log.find(kUpdateHeading));
  EXPECT_FALSE(Has("Finished."));
  // "QH" takes no special main.
  ExpectLoaded(4, kMain);
  EXPECT_FALSE(Has("special main"));
}

TEST_F(UpdatePlannerTest, GradeQFromOnePointThreeOneCancelEndsTheProgram) {
  panel.answerOk = false;
  Run(Instrument("1.2", "1.2", "1.31", 5, "Q"), {Conversation(), Loading(MainPathLoader())},
      {"1.2", "1.2", "1.40", "5"});
  EXPECT_EQ(panel.messages, std::vector<std::string>{kQWarningText});
  EXPECT_EQ(panel.exitCodes, std::vector<int>{1});
  EXPECT_EQ(instrument->openings(), 1u);
  EXPECT_FALSE(Has(kUpdateHeading));
}

TEST_F(UpdatePlannerTest, QWarningIsNotShownAboveOnePointThreeOne) {
  Run(Instrument("1.2", "1.2", "1.32", 5, "Q"), {Conversation(), Loading(MainPathLoader())},
      {"1.2", "1.2", "1.40", "5"});
  EXPECT_EQ(panel.messages, std::vector<std::string>{kRestart});
  ExpectLoaded(1, kMain);
}

TEST_F(UpdatePlannerTest, SilentInstrumentShowsNoInfoOnly) {
  Run(Instrument("1.2", "1.2", "1.31", 5, "Q"), {}, {"1.2", "1.2", "1.40", "5"});
  EXPECT_EQ(panel.messages, std::vector<std::string>{"ZEPHOR connected ?\n"});
  EXPECT_TRUE(Has("\t----  No info available ----\r\n"));
  EXPECT_TRUE(Has("\tNo ZEPHOR connected \r\n"));
  EXPECT_TRUE(panel.progress.empty());
}

TEST_F(UpdatePlannerTest, MissingMainLoadsMainWithoutSpecialMainAndKeepsTheGrade) {
  station.grade = "Q";
  auto state = Instrument("1.2", "1.2", "1.28", 5, "QN");
  state.missingProgram = 'S';
  // Whatever main.bin holds: its stamps are not read.
  Run(state, {Conversation(), Loading(MainPathLoader())}, {"1.2", "1.2", "1.40", "5"});
  ExpectLoaded(1, kMain);
  EXPECT_FALSE(Has("special main"));
  EXPECT_EQ(station.grade, "Q");
  EXPECT_EQ(panel.messages, std::vector<std::string>{kRestart});
  EXPECT_EQ(instrument->openings(), 2u);
}

TEST_F(UpdatePlannerTest, FailedSequenceStopsWithTheErrorAndNoRestart) {
  auto refusing = MainPathLoader();
  refusing.headerReply = script::kNak;
  Run(Instrument("1.2", "1.2", "1.32", 5, "QN"), {Conversation(), Loading(refusing)},
      {"1.2", "1.2", "1.35", "5"});
  EXPECT_TRUE(Has(std::string("\tUpdate main program in progress...\r\n") +
                  "\t-----------------------\r\n" + kStopped));
  EXPECT_EQ(panel.messages, std::vector<std::string>{"Update stopped !!!  no response ZEPHOR\n"});
  EXPECT_TRUE(panel.progress.empty());
}

TEST_F(UpdatePlannerTest, MissingImageOfThePlanEndsTheProgramBeforeTheFirstLoad) {
  // The full update needs newboot.bin first.
  Run(Instrument("1.2", "1.2", "1.31", 5, "QN"), {Conversation(), Loading(MainPathLoader())},
      {"1.3", "1.3", "1.32", "5"}, "newboot.bin");
  EXPECT_EQ(panel.exitCodes, std::vector<int>{1});
  EXPECT_EQ(panel.messages, std::vector<std::string>{"Can't open file newboot.bin"});
  EXPECT_FALSE(Has("Update stopped"));
  EXPECT_FALSE(Has(kUpdateHeading));
  EXPECT_EQ(instrument->openings(), 1u);
}

TEST_F(UpdatePlannerTest, MissingStampFileEndsTheProgramBeforeAnyDecision) {
  Run(Instrument("1.2", "1.2", "1.31", 5, "QN"), {Conversation()}, {"1.2", "1.2", "1.32", "5"},
      "main.bin");
  EXPECT_EQ(panel.exitCodes, std::vector<int>{1});
  EXPECT_EQ(panel.messages, std::vector<std::string>{"Can't open file main.bin"});
  EXPECT_FALSE(Has("up to date"));
  EXPECT_FALSE(Has(kUpdateHeading));
}

}  // namespace
}  // namespace zephor::update
