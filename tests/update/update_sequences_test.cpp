// The three sequences against scripted loaders: their log lines, image order and early stops.
#include "update/update_sequences.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "image_set.h"
#include "recording_panel.h"
#include "serial/memory_line.h"
#include "staged_fixture.h"
#include "staged_instrument.h"
#include "temp_dir.h"

namespace zephor::update {
namespace {

using script::Loading;
using script::MainPathLoader;
using script::Stage;
using script::StagedInstrument;

constexpr char kHeading[] =
    "\t-----------------------\r\n\t----  Update ----\r\n\t-----------------------\r\n";

class UpdateSequencesTest : public StagedFixture {
 protected:
  void SetUp() override {
    StagedFixture::SetUp();
    images = script::WriteImageSet(dir, {"1.3", "1.3", "1.40", "5"});
  }
  void Script(std::vector<Stage> stages) {
    PutInstrument(sim::InstrumentState{}, std::move(stages));
  }
};

TEST_F(UpdateSequencesTest, MainOnlyWithoutFlagWritesItsLines) {
  Script({Loading(MainPathLoader())});
  EXPECT_TRUE(RunMainOnly(station, 0, false, dir.path()));
  EXPECT_EQ(panel.log, std::string(kHeading) +
                           "\tUpdate main program in progress...\r\n"
                           "\tUpdate main program Done\r\n"
                           "\tUpdate finished.\r\n");
  ExpectLoaded(0, 4);
  EXPECT_EQ(instrument->openings(), 1u);
}

TEST_F(UpdateSequencesTest, FullUpdateWithFlagLoadsFiveImagesInOrder) {
  Script({Loading(MainPathLoader()), Loading(script::BootLoader()), Loading(script::UpdateLoader()),
          Loading(MainPathLoader(script::kConversionLine)), Loading(MainPathLoader())});
  EXPECT_TRUE(RunFullUpdate(station, 0, true, dir.path()));
  for (std::size_t i = 0; i < 5; ++i) ExpectLoaded(i, i);
  EXPECT_EQ(panel.log, std::string(kHeading) +
                           "\tLoad of special main in progress...\r\n"
                           "\tLoad of special main Done\r\n"
                           "\tLoad of new boot in progress...\r\n"
                           "\tLoad of new boot Done\r\n"
                           "\tLoad of new update in progress...\r\n"
                           "\tLoad of new update Done\r\n"
                           "\tLoad of special main in progress...\r\n"
                           "\tLoad of special main Done\r\n"
                           "\tUpdate main program in progress...\r\n"
                           "\tUpdate main program Done\r\n"
                           "\tUpdate finished.\r\n");
}

TEST_F(UpdateSequencesTest, FullUpdateWhoseBootFailsTriesNothingMore) {
  auto refusing = script::BootLoader();
  refusing.letter = 'X';  // another character than the boot letter
  Script({Loading(MainPathLoader()), Loading(refusing), Loading(script::UpdateLoader()),
          Loading(MainPathLoader())});
  EXPECT_FALSE(RunFullUpdate(station, 0, false, dir.path()));
  const std::string tail = "\tLoad of special main Done\r\n\tLoad of new boot in progress...\r\n";
  ASSERT_GE(panel.log.size(), tail.size());
  EXPECT_EQ(panel.log.substr(panel.log.size() - tail.size()), tail);
  EXPECT_EQ(instrument->openings(), 2u);
  EXPECT_TRUE(instrument->stages()[2].loader.header.empty());
}

TEST_F(UpdateSequencesTest, UpdateAndMainSkipsTheSpecialMainWithoutFlag) {
  Script({Loading(script::UpdateLoader()), Loading(MainPathLoader())});
  EXPECT_TRUE(RunUpdateAndMain(station, 0, false, dir.path()));
  ExpectLoaded(0, 2);
  ExpectLoaded(1, 4);
  EXPECT_EQ(panel.log.find("special main"), std::string::npos);
}

TEST_F(UpdateSequencesTest, FailingSpecialMainStopsBeforeMain) {
  // No conversion line after the special main.
  Script({Loading(MainPathLoader()), Loading(MainPathLoader())});
  EXPECT_FALSE(RunMainOnly(station, 0, true, dir.path()));
  EXPECT_EQ(panel.messages, (std::vector<std::string>{"", "end dBase convertion"}));
  EXPECT_EQ(instrument->openings(), 1u);
  EXPECT_EQ(panel.log.find("Update main program"), std::string::npos);
}

TEST_F(UpdateSequencesTest, PortIndexIsHandedToEveryUpload) {
  serial::MemoryLine other;
  factory.AddLine(2, &other);
  Script({Loading(MainPathLoader())});
  // Port 2 has a line but no instrument: the main's letter never comes.
  EXPECT_FALSE(RunMainOnly(station, 2, false, dir.path()));
  EXPECT_EQ(instrument->openings(), 0u);
  EXPECT_EQ(panel.messages, std::vector<std::string>{"Update stopped !!!  no response ZEPHOR\n"});
}

}  // namespace
}  // namespace zephor::update
