// The command conversations against the simulated instrument on virtual time.
#include <gtest/gtest.h>

#include "device/erase.h"
#include "device/identify.h"
#include "device/info_report.h"
#include "recording_panel.h"
#include "sim/in_process.h"

namespace zephor::sim {
namespace {

struct Bench {
  Bench(InstrumentState state, Fault fault) : instrument(std::move(state), fault) {
    station.ports = instrument.environment();
    station.panel = &panel;
  }
  InProcessInstrument instrument;
  device::RecordingPanel panel;
  device::Station station;
};

TEST(InstrumentModelTest, IdentifyReadsEveryField) {
  InstrumentState state;
  state.equipmentNumber = 40001;
  state.cardNumber = 7654321;
  state.mainVersion = "1.40";
  state.bootVersion = "1.3";
  state.updateVersion = "1.1";
  state.build = 7;
  state.grade = "Q";
  Bench bench(state, Fault::kNone);
  device::DeviceInfo info;
  ASSERT_TRUE(device::Identify(bench.station, info));
  EXPECT_EQ(bench.station.statusText, "OK");
  EXPECT_EQ(info.equipmentNumber, 40001);
  EXPECT_EQ(info.cardNumber, 7654321);
  EXPECT_EQ(info.cardIssue, 2);
  EXPECT_FLOAT_EQ(info.mainVersion, 1.40f);
  EXPECT_FLOAT_EQ(info.bootVersion, 1.3f);
  EXPECT_FLOAT_EQ(info.updateVersion, 1.1f);
  EXPECT_EQ(info.build, 7);
  EXPECT_EQ(info.grade, "Q");
  EXPECT_FALSE(bench.instrument.model().unlocked());  // LOCK went out at the end
  const std::vector<std::string> expected = {"UNLOCK", "system", "LOCK"};
  EXPECT_EQ(bench.instrument.model().commands(), expected);
}

TEST(InstrumentModelTest, OldMainPrintsUndottedVersionsThatIdentifyDivides) {
  InstrumentState state;
  state.mainVersion = "1.13";
  state.bootVersion = "12";
  state.updateVersion = "11";
  Bench bench(state, Fault::kNone);
  device::DeviceInfo info;
  ASSERT_TRUE(device::Identify(bench.station, info));
  EXPECT_FLOAT_EQ(info.bootVersion, 1.2f);
  EXPECT_FLOAT_EQ(info.updateVersion, 1.1f);
}

TEST(InstrumentModelTest, ReportFitsTheIdentificationRead) {
  InstrumentModel model(InstrumentState{}, Fault::kNone);
  const std::string report = model.SystemReport();
  EXPECT_LT(report.size(), 350u);
  for (const char* label :
       {"ZEPHOR - ", "PCB: ", "ISSUE: ", "MAIN Version         : V", "BOOT Version         : V",
        "UPDATE Version       : V", "Build                : "}) {
    EXPECT_NE(report.find(label), std::string::npos) << label;
  }
}

TEST(InstrumentModelTest, LoaderLetterIsCaughtWithoutUnlocking) {
  InstrumentState state;
  state.missingProgram = 'U';
  Bench bench(state, Fault::kNone);
  device::DeviceInfo info;
  EXPECT_TRUE(device::Identify(bench.station, info));
  EXPECT_EQ(bench.station.statusText, "No UPDATE program");
  EXPECT_TRUE(bench.instrument.model().commands().empty());
}

TEST(InstrumentModelTest, FaultsFailTheUnlock) {
  for (Fault fault : {Fault::kSilent, Fault::kOkWithCrLf, Fault::kLongReply}) {
    Bench bench(InstrumentState{}, fault);
    device::DeviceInfo info;
    EXPECT_FALSE(device::Identify(bench.station, info));
    EXPECT_EQ(bench.station.statusText, "No ZEPHOR connected");
    ASSERT_EQ(bench.panel.messages.size(), 1u);
    EXPECT_EQ(bench.panel.messages[0], "ZEPHOR connected ?\n");
  }
}

// Two tries of two seconds, with the line cleared and heard out for a quiet second between.
TEST(InstrumentModelTest, SilentInstrumentCostsFiveSecondsOfVirtualTime) {
  Bench bench(InstrumentState{}, Fault::kSilent);
  device::DeviceInfo info;
  device::Identify(bench.station, info);
  EXPECT_GE(bench.instrument.timing().now(), 5000u);
  EXPECT_LT(bench.instrument.timing().now(), 5020u);
}

TEST(InstrumentModelTest, EraseClearsTheMemory) {
  InstrumentState state;
  state.memory.assign(4096, 0x5A);
  Bench bench(state, Fault::kNone);
  EXPECT_TRUE(device::EraseLogger(bench.station, true));
  EXPECT_TRUE(bench.instrument.model().state().memory.empty());
  EXPECT_NE(bench.panel.log.find("\tFinished.\r\n"), std::string::npos);
}

TEST(InstrumentModelTest, PacedOutputTakesAboutAMillisecondAByte) {
  InstrumentModel model(InstrumentState{}, Fault::kNone);
  model.SetPaced(true);
  for (char c : std::string("UNLOCK\nsystem\n")) model.Receive(static_cast<std::uint8_t>(c), 0);
  std::size_t total = 0;
  std::uint32_t now = 0;
  const std::size_t expected = 4 + model.SystemReport().size() + 3;
  while (total < expected && now < 10000) total += model.Transmit(++now).size();
  EXPECT_EQ(total, expected);
  EXPECT_NEAR(static_cast<double>(now), expected * 1.0416, expected * 0.02 + 2);
}

TEST(InstrumentModelTest, InfoLogMatchesTheReport) {
  Bench bench(InstrumentState{}, Fault::kNone);
  device::OnInfo(bench.station);
  EXPECT_NE(bench.panel.log.find("\tMain version\t: 1.31\r\n"), std::string::npos);
  EXPECT_NE(bench.panel.log.find("\tGrade\t\t: QH\r\n"), std::string::npos);
  EXPECT_NE(bench.panel.log.find("\tNumber equipment\t: 123456789\r\n"), std::string::npos);
}

}  // namespace
}  // namespace zephor::sim
