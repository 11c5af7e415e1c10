// The decoded dump of a saved database in its three formats.
#include "database/database_dump.h"

#include <gtest/gtest.h>

#include <sstream>

#include "database_fixture.h"

namespace zephor::database {
namespace {

using testing::Bytes;
using testing::Join;

const Bytes kAbc = {0x08, 0x62, 0x8C, 0, 0, 0, 0, 0, 0, 0};
const Bytes kQuote = {0x00, 0x80, 0, 0, 0, 0, 0, 0, 0, 0};  // one double quote
const Bytes kTrailer(10, 0x00);
const Bytes kEnd = {0xFF};

Bytes Header(std::uint16_t flags, std::uint32_t stop, std::uint16_t count,
             const Bytes& name = kAbc) {
  Bytes h = {0xBF, 0xF8, 0x77, 0x00, 0x12, 0x34};
  h.push_back(static_cast<std::uint8_t>(flags >> 8));
  h.push_back(static_cast<std::uint8_t>(flags));
  h.insert(h.end(), name.begin(), name.end());
  for (int i = 0; i < 4; ++i) h.push_back(0);  // start time 0
  for (int shift = 24; shift >= 0; shift -= 8)
    h.push_back(static_cast<std::uint8_t>(stop >> shift));
  h.push_back(static_cast<std::uint8_t>(count >> 8));
  h.push_back(static_cast<std::uint8_t>(count));
  return h;
}

// Hold 2, hatch 3, type 2, level 12.5 with A 20, time 0, sensor 1234, label ABC.
const Bytes kMeasure = {0x00, 0x12, 0x03, 0x00, 0x12, 0x71, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                        0x04, 0xD2, 0x08, 0x62, 0x8C, 0,    0,    0,    0,    0,    0,    0};

std::string Dump(const Bytes& data, DumpFormat format, WalkEnd* end = nullptr) {
  std::ostringstream out;
  const WalkEnd e = DumpDatabase(data, format, out);
  if (end != nullptr) *end = e;
  return out.str();
}

TEST(DatabaseDump, TextShowsSurveyAndMeasurement) {
  const Bytes data =
      Join({Bytes(12, 0x01), Header(0x0001, 1234567890, 0x8001), kMeasure, kTrailer, kEnd});
  EXPECT_EQ(Dump(data, DumpFormat::kText),
            "Survey 1 at byte 12: IMO 4660, operator \"ABC\"\n"
            "  started Thu Jan 01 00:00:00 1970, stopped Fri Feb 13 23:31:30 2009\n"
            "  functional test at start done, at end done\n"
            "  1 measurement\n"
            "  1 hold 2 hatch 3 type 2 (MEASURE) level 12.5 dBuV A=20 time Thu Jan 01 00:00:00 "
            "1970 sensor 1234 label \"ABC\"\n"
            "1 survey, up to the end-of-data byte\n");
}

TEST(DatabaseDump, JsonOfTwoSurveys) {
  const Bytes data =
      Join({Header(0, 0xFFFFFFFF, 0x7FFF), Header(0, 10, 1), kMeasure, kTrailer, kEnd});
  EXPECT_EQ(
      Dump(data, DumpFormat::kJson),
      "{\"surveys\": [\n"
      "  {\"number\": 1, \"offset\": 0, \"imo\": 4660, \"operator\": \"ABC\", \"start\": 0, "
      "\"startText\": \"Thu Jan 01 00:00:00 1970\", \"stop\": 4294967295, \"stopped\": false, "
      "\"functionalTestStart\": false, \"functionalTestEnd\": false, \"noMeasurements\": true, "
      "\"measurements\": []},\n"
      "  {\"number\": 2, \"offset\": 28, \"imo\": 4660, \"operator\": \"ABC\", \"start\": 0, "
      "\"startText\": \"Thu Jan 01 00:00:00 1970\", \"stop\": 10, \"stopped\": true, "
      "\"functionalTestStart\": false, \"functionalTestEnd\": false, \"noMeasurements\": false, "
      "\"measurements\": [\n"
      "    {\"index\": 1, \"hold\": 2, \"hatch\": 3, \"type\": 2, \"typeText\": \"MEASURE\", "
      "\"level\": 12.5, \"aValue\": 20, \"time\": 0, \"timeText\": \"Thu Jan 01 00:00:00 1970\", "
      "\"sensorSerial\": 1234, \"label\": \"ABC\"}\n"
      "  ]}\n"
      "], \"end\": \"end-of-data\"}\n");
}

TEST(DatabaseDump, CsvRowPerMeasurementAndPerEmptySurvey) {
  const Bytes data =
      Join({Header(0, 10, 0), kTrailer, Header(0, 10, 1, kQuote), kMeasure, kTrailer, kEnd});
  const std::string csv = Dump(data, DumpFormat::kCsv);
  std::istringstream lines(csv);
  std::string header, first, second, extra;
  std::getline(lines, header);
  std::getline(lines, first);
  std::getline(lines, second);
  EXPECT_FALSE(std::getline(lines, extra));
  EXPECT_EQ(header.substr(0, 16), "survey,offset,im");
  EXPECT_EQ(first, "1,0,4660,ABC,Thu Jan 01 00:00:00 1970,Thu Jan 01 00:00:10 1970,0,0,,,,,,,,,,");
  EXPECT_EQ(second,
            "2,38,4660,\"\"\"\",Thu Jan 01 00:00:00 1970,Thu Jan 01 00:00:10 1970,0,0,1,2,3,2,"
            "MEASURE,12.5,20,Thu Jan 01 00:00:00 1970,1234,ABC");
}

TEST(DatabaseDump, JsonEscapesQuotes) {
  const std::string json =
      Dump(Join({Header(0, 10, 0, kQuote), kTrailer, kEnd}), DumpFormat::kJson);
  EXPECT_NE(json.find("\"operator\": \"\\\"\""), std::string::npos);
}

TEST(DatabaseDump, EmptyAndTruncatedData) {
  WalkEnd end{};
  EXPECT_EQ(Dump(kEnd, DumpFormat::kText, &end), "0 surveys, up to the end-of-data byte\n");
  EXPECT_EQ(end, WalkEnd::kEndOfData);
  // A survey announcing more measurements than the data holds is not read past the buffer.
  const Bytes cut = Join({Header(0, 10, 40), kMeasure});
  EXPECT_EQ(Dump(cut, DumpFormat::kJson, &end), "{\"surveys\": [], \"end\": \"truncated\"}\n");
  EXPECT_EQ(end, WalkEnd::kTruncated);
  EXPECT_EQ(Dump({}, DumpFormat::kCsv, &end).find('\n'), Dump({}, DumpFormat::kCsv).size() - 1);
}

}  // namespace
}  // namespace zephor::database
