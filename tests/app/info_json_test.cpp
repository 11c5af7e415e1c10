// What zephor info --json prints is what the fleet reads back: every answer an identification
// gives survives the round trip, and what is no answer reads as none.
#include "app/info_json.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>

namespace zephor::app {
namespace {

device::DeviceInfo Instrument(std::int32_t number, float main, const char* grade) {
  device::DeviceInfo info;
  info.equipmentNumber = number;
  info.cardNumber = 4711;
  info.cardIssue = 3;
  info.bootVersion = 1.2f;
  info.updateVersion = 1.21f;
  info.mainVersion = main;
  info.grade = grade;
  info.build = 224;
  return info;
}

struct RoundTrip {
  const char* name;
  InfoAnswer answer;
};

void PrintTo(const RoundTrip& row, std::ostream* out) { *out << row.name; }

class InfoJsonTest : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(InfoJsonTest, WhatIsPrintedIsReadBack) {
  const InfoAnswer& written = GetParam().answer;
  const std::string text = WriteInfoJson(written);
  const InfoAnswer read = ReadInfoJson(text);
  SCOPED_TRACE(text);
  EXPECT_EQ(read.port, written.port);
  EXPECT_EQ(read.device, written.device);
  EXPECT_EQ(read.status, written.status);
  ASSERT_EQ(read.info.has_value(), written.info.has_value());
  if (!written.info) return;
  const device::DeviceInfo& a = *written.info;
  const device::DeviceInfo& b = *read.info;
  EXPECT_EQ(b.equipmentNumber, a.equipmentNumber);
  EXPECT_EQ(b.cardNumber, a.cardNumber);
  EXPECT_EQ(b.cardIssue, a.cardIssue);
  EXPECT_EQ(b.bootVersion, a.bootVersion);
  EXPECT_EQ(b.updateVersion, a.updateVersion);
  EXPECT_EQ(b.mainVersion, a.mainVersion);
  EXPECT_EQ(b.grade, a.grade);
  EXPECT_EQ(b.build, a.build);
}

INSTANTIATE_TEST_SUITE_P(
    Table, InfoJsonTest,
    ::testing::Values(
        RoundTrip{"InstrumentThatAnswered",
                  {"COM1", "/dev/ttyUSB0", "OK", Instrument(123456789, 1.31f, "QH")}},
        RoundTrip{"NewMainWithoutAGrade", {"COM2", "/dev/ttyS1", "OK", Instrument(7, 1.4f, "")}},
        RoundTrip{"LoaderWaitingForAProgram",
                  {"COM3", "/dev/ttyS2", "No BOOT program", std::nullopt}},
        RoundTrip{"NoInstrument", {"COM4", "/dev/ttyS3", "No ZEPHOR connected", std::nullopt}},
        // A by-id name may hold any character a file name can.
        RoundTrip{
            "PortNameThatNeedsEscaping",
            {"usb-\"FTDI\"\\x\tport", "/dev/serial/by-id/x", "OK", Instrument(42, 1.28f, "Q")}}),
    [](const ::testing::TestParamInfo<RoundTrip>& info) { return info.param.name; });

// Scripts read the same object: its keys, and versions with the instrument's two decimals.
TEST(InfoJsonTextTest, PrintedKeysAndVersions) {
  const std::string text =
      WriteInfoJson({"COM1", "/dev/ttyUSB0", "OK", Instrument(123456789, 1.31f, "QH")});
  EXPECT_EQ(nlohmann::json::parse(text), nlohmann::json::parse(R"({
    "port": "COM1", "device": "/dev/ttyUSB0", "status": "OK",
    "info": {"equipmentNumber": 123456789, "cardNumber": 4711, "cardIssue": 3,
             "bootVersion": 1.2, "updateVersion": 1.21, "mainVersion": 1.31, "grade": "QH",
             "build": 224}})"));
}

// What a run printed when it was cut short, or another program's words: no instrument's number.
TEST(InfoJsonTextTest, WhatIsNoAnswerReadsAsNone) {
  for (const char* text :
       {"", "No ZEPHOR connected", "[1, 2]", "{\"status\": \"OK\", \"info\": {",
        R"({"status": "OK", "info": {"equipmentNumber": "11"}})",
        R"({"status": "OK", "info": {"grade": "QH"}})", R"({"status": 0, "info": []})"}) {
    const InfoAnswer read = ReadInfoJson(text);
    EXPECT_FALSE(read.info.has_value()) << text;
  }
}

}  // namespace
}  // namespace zephor::app
