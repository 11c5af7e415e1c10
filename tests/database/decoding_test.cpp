// Byte reads, six-bit texts, measurement fields and the record walk.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "database/byte_reader.h"
#include "database/measurement.h"
#include "database/record_walk.h"
#include "database/text12.h"
#include "database_fixture.h"

namespace zephor::database {
namespace {

using testing::Bytes;

TEST(ByteReaderTest, ReadsBigEndianWhateverTheHost) {
  const Bytes bytes = {0x12, 0x34, 0x56, 0x78, 0x9A};
  const ByteReader reader(bytes);
  EXPECT_EQ(reader.ReadBE16(0), 0x1234);
  EXPECT_EQ(reader.ReadBE16(3), 0x789A);
  EXPECT_EQ(reader.ReadBE32(1), 0x3456789Au);
}

TEST(ByteReaderTest, ReadsPastTheEndGiveZeroAndFitsSaysSo) {
  const Bytes bytes = {0xFF, 0xFF, 0xFF};
  const ByteReader reader(bytes);
  EXPECT_TRUE(reader.Fits(1, 2));
  EXPECT_FALSE(reader.Fits(2, 2));
  EXPECT_FALSE(reader.Fits(4, 0));
  EXPECT_EQ(reader.ReadBE16(2), 0);
  EXPECT_EQ(reader.ReadBE32(0), 0u);
  EXPECT_EQ(reader.Byte(3), 0);
  EXPECT_TRUE(reader.Bytes(1, 3).empty());
}

TEST(ByteReaderTest, ToBE32LaysOutMostSignificantFirst) {
  EXPECT_EQ(ToBE32(0x03E7FC18u), (std::array<std::uint8_t, 4>{0x03, 0xE7, 0xFC, 0x18}));
}

TEST(Text12Test, TenZeroBytesAreTheEmptyText) {
  const std::array<std::uint8_t, 10> packed{};
  EXPECT_EQ(UnpackText12(packed), "");
}

TEST(Text12Test, UnpacksLeadingCharactersAndCutsTrailingBlanks) {
  const std::array<std::uint8_t, 10> packed = {0x08, 0x62, 0x8C, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(UnpackText12(packed), "ABC");
}

TEST(Text12Test, InnerBlanksStayWhenOnlyTheLastCharacterIsSet) {
  const std::array<std::uint8_t, 10> lastOnly = {0, 0, 0, 0, 0, 0, 0, 0, 0x03, 0xA0};
  EXPECT_EQ(UnpackText12(lastOnly), "           Z");
  const std::array<std::uint8_t, 10> bothEnds = {0x00, 0x40, 0, 0, 0, 0, 0, 0, 0x03, 0xA0};
  EXPECT_EQ(UnpackText12(bothEnds), "!          Z");
}

TEST(Text12Test, TheFourBitsAtEachEndAreIgnored) {
  const std::array<std::uint8_t, 10> packed = {0xF0, 0, 0, 0, 0, 0, 0, 0, 0, 0x0F};
  EXPECT_EQ(UnpackText12(packed), "");
}

std::array<std::uint8_t, 24> RecordWith(std::uint8_t holdType, std::uint8_t levelHigh,
                                        std::uint8_t levelLow) {
  return {0x00, holdType, 0x07, 0x00, levelHigh, levelLow, 0, 0, 0, 0, 0, 0,
          0,    0,        0,    0,    0,         0,        0, 0, 0, 0, 0, 0};
}

TEST(MeasurementTest, DecodesEveryField) {
  const std::array<std::uint8_t, 24> record = {0x00, 0x12, 0x03, 0x00, 0x12, 0x71, 0x49, 0x96,
                                               0x02, 0xD2, 0xFF, 0xFF, 0xFB, 0x2E, 0x08, 0x62,
                                               0x8C, 0,    0,    0,    0,    0,    0,    0};
  const Measurement m = DecodeMeasurement(record);
  EXPECT_EQ(m.hold, 2);
  EXPECT_EQ(m.typeCode, 2);
  EXPECT_EQ(TypeText(m.typeCode), "MEASURE    ");
  EXPECT_EQ(m.hatch, 3);
  EXPECT_EQ(m.aValue, 20);
  EXPECT_DOUBLE_EQ(m.level, 12.5);
  EXPECT_EQ(m.time, 1234567890u);
  EXPECT_EQ(m.sensorSerial, -1234);
  EXPECT_EQ(m.label, "ABC");
}

TEST(MeasurementTest, LevelWordLimits) {
  Measurement m = DecodeMeasurement(RecordWith(0x00, 0x01, 0xF4));
  EXPECT_DOUBLE_EQ(m.level, 0.0);
  EXPECT_EQ(m.aValue, 0);
  m = DecodeMeasurement(RecordWith(0x00, 0x00, 0x00));
  EXPECT_DOUBLE_EQ(m.level, -50.0);
  m = DecodeMeasurement(RecordWith(0x00, 0xFF, 0xFF));
  EXPECT_DOUBLE_EQ(m.level, 154.7);
  EXPECT_EQ(m.aValue, 310);
}

TEST(MeasurementTest, HighNibbleIsHoldMinusOne) {
  const Measurement m = DecodeMeasurement(RecordWith(0xF1, 0, 0));
  EXPECT_EQ(m.hold, 16);
  EXPECT_EQ(m.typeCode, kTypeOhValue);
  EXPECT_EQ(TypeText(m.typeCode), "O.H. VALUE ");
}

TEST(MeasurementTest, TypeTextsAndBlanksForCodesWithoutText) {
  EXPECT_EQ(TypeText(0), "          ");
  EXPECT_EQ(TypeText(3), "DRAIN VALUE");
  EXPECT_EQ(TypeText(4), "OTHER      ");
  for (int code = 5; code < kTypeCount; ++code) EXPECT_EQ(TypeText(code), "           ");
}

struct Visited {
  RecordKind kind;
  std::size_t offset;
  std::size_t size;
  bool operator==(const Visited&) const = default;
};

std::vector<Visited> Walk(const Bytes& data, WalkEnd& end,
                          EmptySurveyStep step = EmptySurveyStep::kHeaderOnly) {
  std::vector<Visited> seen;
  end = WalkRecords(data, step, [&](const Record& r) {
    seen.push_back({r.kind, r.offset, r.size});
    EXPECT_EQ(r.bytes.size(), r.size);
    return true;
  });
  return seen;
}

TEST(RecordWalkTest, EndOfDataBytesHoldNoRecords) {
  for (std::uint8_t first : {0xFF, 0xC0, 0x1A}) {
    WalkEnd end{};
    const Bytes data = {first, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x1A};
    EXPECT_TRUE(Walk(data, end).empty()) << int{first};
    EXPECT_EQ(end, WalkEnd::kEndOfData);
  }
}

TEST(RecordWalkTest, KindsAndSizesFollowTheTagBytes) {
  Bytes data(12, 0x00);                                              // plain, tag 00, at 0
  data.insert(data.end(), {0x40, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});  // plain, tag 01, at 12
  data.insert(data.end(), {0x9F, 0x00, 0, 0, 0, 0, 0, 0, 0, 0});     // value, at 24
  data.insert(data.end(), {0xBE, 0xF8, 0, 0, 0, 0, 0, 0, 0, 0});     // value, at 34
  data.insert(data.end(), {0xBF, 0x00, 0, 0, 0, 0, 0, 0, 0, 0});     // value, at 44
  Bytes survey(28 + 24 + 10, 0x00);                                  // survey, n = 1, at 54
  survey[0] = 0x9F;
  survey[1] = 0xF8;
  survey[27] = 0x01;
  data.insert(data.end(), survey.begin(), survey.end());
  data.push_back(0xC5);
  WalkEnd end{};
  const std::vector<Visited> expected = {
      {RecordKind::kPlain, 0, 12},  {RecordKind::kPlain, 12, 12}, {RecordKind::kValue, 24, 10},
      {RecordKind::kValue, 34, 10}, {RecordKind::kValue, 44, 10}, {RecordKind::kSurvey, 54, 62}};
  EXPECT_EQ(Walk(data, end), expected);
  EXPECT_EQ(end, WalkEnd::kEndOfData);
}

TEST(RecordWalkTest, EmptySurveyStepsByReader) {
  Bytes data(28 + 10, 0x00);
  data[0] = 0xBF;
  data[1] = 0xF8;
  data[26] = 0xFF;  // bit 15 set as well: still "no measurements"
  data[27] = 0xFF;
  Bytes longer = data;  // room for a plain record right after the header
  longer.insert(longer.end(), {0x00, 0x00, 0xFF});
  data.push_back(0xFF);
  WalkEnd end{};
  EXPECT_EQ(Walk(longer, end, EmptySurveyStep::kHeaderOnly),
            (std::vector<Visited>{{RecordKind::kSurvey, 0, 28}, {RecordKind::kPlain, 28, 12}}));
  EXPECT_EQ(end, WalkEnd::kEndOfData);
  EXPECT_EQ(Walk(data, end, EmptySurveyStep::kHeaderAndTrailer),
            (std::vector<Visited>{{RecordKind::kSurvey, 0, 38}}));
  EXPECT_EQ(end, WalkEnd::kEndOfData);
}

TEST(RecordWalkTest, DataWithoutEndByteIsTruncatedAfterTheLastWholeRecord) {
  Bytes data(12, 0x01);
  WalkEnd end{};
  EXPECT_EQ(Walk(data, end), (std::vector<Visited>{{RecordKind::kPlain, 0, 12}}));
  EXPECT_EQ(end, WalkEnd::kTruncated);

  EXPECT_TRUE(Walk(Bytes{}, end).empty());
  EXPECT_EQ(end, WalkEnd::kTruncated);
}

TEST(RecordWalkTest, RecordsRunningPastTheEndAreNotVisited) {
  WalkEnd end{};
  EXPECT_TRUE(Walk(Bytes{0x80, 0, 0, 0, 0}, end).empty());
  EXPECT_EQ(end, WalkEnd::kTruncated);

  Bytes survey(28 + 24, 0x00);  // count 2, but only one measurement and no trailer
  survey[0] = 0xBF;
  survey[1] = 0xF8;
  survey[27] = 0x02;
  EXPECT_TRUE(Walk(survey, end).empty());
  EXPECT_EQ(end, WalkEnd::kTruncated);

  EXPECT_TRUE(Walk(Bytes{0xBF, 0xF8, 0, 0}, end).empty());  // header cut short
  EXPECT_EQ(end, WalkEnd::kTruncated);
}

TEST(RecordWalkTest, VisitorEndsTheWalk) {
  const Bytes data(36, 0x00);
  int visits = 0;
  const WalkEnd end = WalkRecords(data, EmptySurveyStep::kHeaderOnly, [&](const Record&) {
    ++visits;
    return false;
  });
  EXPECT_EQ(visits, 1);
  EXPECT_EQ(end, WalkEnd::kStoppedByReader);
}

}  // namespace
}  // namespace zephor::database
