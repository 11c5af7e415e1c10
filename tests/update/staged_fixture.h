// A station whose port leads to a staged instrument (one script per port opening), and the image
// files it is loaded from: the ground of the sequence and planner tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "device/operator_panel.h"
#include "recording_panel.h"
#include "serial/memory_line.h"
#include "staged_instrument.h"
#include "temp_dir.h"

namespace zephor::update {

class StagedFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    factory.AddLine(0, &line);
    station.ports = {&opening, &timing};
    station.panel = &panel;
  }
  void TearDown() override { EXPECT_EQ(serial::OpenPortCount(), 0); }

  // Puts an instrument with these stages behind the line.
  void PutInstrument(sim::InstrumentState state, std::vector<script::Stage> stages) {
    instrument = std::make_unique<script::StagedInstrument>(std::move(state), std::move(stages));
    timing.Attach(&line,
                  [this](std::uint32_t now, serial::MemoryLine& l) { instrument->Step(now, l); });
  }

  // The image a loader stage received, up to the length of the file it should have been.
  void ExpectLoaded(std::size_t stage, std::size_t image) {
    const auto& data = instrument->stages().at(stage).loader.data;
    const auto& expected = images.at(image);
    ASSERT_GE(data.size(), expected.size()) << "stage " << stage;
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), data.begin())) << "stage " << stage;
  }

  TempDir dir;
  serial::MemoryLine line;
  serial::MemoryPortFactory factory;
  script::OpeningFactory opening{factory, 0, [this] {
                                   if (instrument) instrument->Opened();
                                 }};
  serial::VirtualTiming timing;
  RecordingPanel panel;
  device::Station station;
  std::unique_ptr<script::StagedInstrument> instrument;
  std::vector<std::vector<std::uint8_t>> images;
};

}  // namespace zephor::update
