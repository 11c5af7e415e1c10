// "_Quarvel.txt" of generated memories, set against a report built the plain way from the decoded
// records and the one-string-a-piece texts; and the buffer-reusing texts against those.
#include <gtest/gtest.h>

#include <charconv>
#include <cstdint>
#include <string>
#include <vector>

#include "database/byte_reader.h"
#include "database/database_file.h"
#include "database/measurement.h"
#include "database/record_walk.h"
#include "database/survey_report.h"
#include "database/text12.h"
#include "database/utc_time.h"
#include "database_fixture.h"
#include "sim/database_generator.h"

namespace zephor::database {
namespace {

using testing::Bytes;

constexpr std::uint32_t kNotStopped = 0xFFFFFFFF;
constexpr std::int32_t kFirstBuildWithA = 224;

std::string Level(double level) {
  char digits[32];
  const auto end =
      std::to_chars(digits, digits + sizeof digits, level, std::chars_format::fixed, 1);
  std::string text(digits, end.ptr);
  if (text.size() < 5) text.insert(0, 5 - text.size(), ' ');
  return text;
}

// The report as the operator reads it, one string a piece.
std::string ReferenceReport(const Bytes& database, const device::DeviceInfo& info) {
  std::string out;
  bool testDone = false;
  WalkRecords(database, EmptySurveyStep::kHeaderAndTrailer, [&](const Record& record) {
    if (record.kind != RecordKind::kSurvey) return true;
    const ByteReader h(record.bytes);
    if (h.ReadBE16(6) & 1) testDone = true;
    const std::string done = testDone ? "" : "NOT ";
    out += "Functional test is " + done + "done.\n";
    out += "Ship number IMO " + std::to_string(h.ReadBE32(2) & 0xFFFFFF) +
           " \nMeasured with equipment QLX NE" + std::to_string(info.equipmentNumber) + ".\n";
    out += "Operator: " + UnpackText12(record.bytes.subspan(8).first<kPackedTextBytes>()) + "\n";
    out += "Survey started on " + LongTimeText(h.ReadBE32(18)) + "\n";
    if (h.ReadBE32(22) == kNotStopped) {
      out += "\n\tSurvey not stopped !!!\n";
      return false;
    }
    out += "Survey stopped on  " + LongTimeText(h.ReadBE32(22)) + "\n";
    testDone = (h.ReadBE16(kSurveyCountOffset) & kEndTestBit) != 0;
    if (record.noMeasurements) out += "\n\tThere are no measurements !!!\n";
    for (std::size_t i = 1; i <= record.measurements; ++i) {
      const Measurement m =
          DecodeMeasurement(record.bytes.subspan(kSurveyHeaderSize + kMeasurementSize * (i - 1))
                                .first<kMeasurementSize>());
      out += std::to_string(i) + "  hold" + std::to_string(m.hold) + "  hatch" +
             std::to_string(m.hatch) + " ";
      if (m.typeCode != kTypeNone) out += std::string(TypeText(m.typeCode)) + " ";
      out += Level(m.level) + " dB\xB5V";
      if (info.build >= kFirstBuildWithA) out += " A=" + std::to_string(m.aValue);
      out += "\t" + ShortTimeText(m.time) + "\t" +
             (m.sensorSerial != 0 ? "serial number sensor " + std::to_string(m.sensorSerial) : "") +
             "\t" + m.label + "\n";
      if (m.typeCode == kTypeOhValue) out += "\n";
      if (i == record.measurements)
        out += "End survey functional test is " + std::string(testDone ? "" : "NOT ") + "done.\n";
    }
    out += "\n\n\n\n";
    return true;
  });
  return out;
}

// Where two reports part, shown with what follows there in each; empty when they are equal.
std::string FirstDifference(const std::string& report, const std::string& expected) {
  if (report == expected) return "";
  std::size_t at = 0;
  while (at < report.size() && at < expected.size() && report[at] == expected[at]) ++at;
  return "at " + std::to_string(at) + ": \"" + report.substr(at, 60) + "\" instead of \"" +
         expected.substr(at, 60) + "\"";
}

struct GeneratedCase {
  std::uint32_t seed;
  std::size_t size;
  bool unstopped;
  std::int32_t build;
};

// "Seed3Of5000BytesUnstoppedBuild224": the row as its name and in a failure.
std::string RowName(const GeneratedCase& c) {
  return "Seed" + std::to_string(c.seed) + "Of" + std::to_string(c.size) + "Bytes" +
         (c.unstopped ? "Unstopped" : "") + "Build" + std::to_string(c.build);
}

void PrintTo(const GeneratedCase& c, std::ostream* out) { *out << RowName(c); }

class GeneratedReportTest : public testing::DatabaseTest,
                            public ::testing::WithParamInterface<GeneratedCase> {};

TEST_P(GeneratedReportTest, MatchesThePlainReport) {
  const GeneratedCase& c = GetParam();
  sim::DatabaseOptions options;
  options.unstoppedSurvey = c.unstopped;
  const Bytes database = sim::GenerateDatabase(c.seed, c.size, options);
  const device::DeviceInfo info =
      testing::InfoWith(static_cast<std::int32_t>(c.seed % 9973), c.build);
  ASSERT_TRUE(WriteSurveyReport(station, database, info, directory));
  const std::string report = ReadText(kReportFileName);
  const std::string expected = ReferenceReport(database, info);
  EXPECT_EQ(FirstDifference(report, expected), "");
  if (c.unstopped) {
    EXPECT_NE(report.rfind("\n\tSurvey not stopped !!!\n"), std::string::npos);
  }
  EXPECT_EQ(timing.now(), kCloseDelayMs);
  ASSERT_FALSE(panel.messages.empty());
  EXPECT_EQ(panel.messages.back(), "The measurements can be found back in _Quarvel.TXT");
}

// Sizes from nothing to reports of several megabytes, which fill the write block many times.
INSTANTIATE_TEST_SUITE_P(
    SeedsAndSizes, GeneratedReportTest,
    ::testing::Values(GeneratedCase{1, 0, false, 224}, GeneratedCase{2, 300, false, 223},
                      GeneratedCase{3, 5000, true, 224}, GeneratedCase{4, 70000, false, 224},
                      GeneratedCase{5, 70000, true, 223}, GeneratedCase{6, 1200000, false, 224},
                      GeneratedCase{7, 1200000, true, 300}),
    [](const ::testing::TestParamInfo<GeneratedCase>& info) { return RowName(info.param); });

// Every level a measurement can hold, with every A value, in one survey.
TEST_F(GeneratedReportTest, EveryLevelWordMatchesThePlainReport) {
  Bytes database = {0xBF, 0xF8, 0, 0, 0, 1, 0, 0};
  database.resize(18, 0);
  for (int i = 0; i < 8; ++i) database.push_back(0);  // start and stop at 0
  constexpr std::size_t kLevelWords = 0x10000 / 32;   // every raw level, A steps spread over
  database.push_back(static_cast<std::uint8_t>(kLevelWords >> 8));
  database.push_back(static_cast<std::uint8_t>(kLevelWords));
  for (std::size_t word = 0; word < kLevelWords; ++word) {
    const std::size_t levelWord = (word * 32 + word / 64) & 0xFFFF;
    Bytes m(kMeasurementSize, 0);
    m[1] = static_cast<std::uint8_t>(word % 16);
    m[4] = static_cast<std::uint8_t>(levelWord >> 8);
    m[5] = static_cast<std::uint8_t>(levelWord);
    m[6] = static_cast<std::uint8_t>(word);  // times from 1970 up to 2038 and invalid ones
    m[10] = static_cast<std::uint8_t>(word >> 3);
    m[14] = static_cast<std::uint8_t>(word * 7);
    database.insert(database.end(), m.begin(), m.end());
  }
  database.insert(database.end(), kSurveyTrailerSize, 0);
  database.push_back(0xFF);
  const device::DeviceInfo info = testing::InfoWith(-1, 224);
  ASSERT_TRUE(WriteSurveyReport(station, database, info, directory));
  EXPECT_EQ(FirstDifference(ReadText(kReportFileName), ReferenceReport(database, info)), "");
}

TEST(UtcShortTimeTextsTest, MatchShortTimeTextAcrossDaysAndInvalidTimes) {
  ShortTimeTexts texts;
  const std::vector<std::uint32_t> times = {0,          59,         60,          86399,
                                            86400,      86399,      0x80000000u, 86400,
                                            2147483647, 0xFFFFFFFF, 951782400,   951868799};
  for (const std::uint32_t t : times) EXPECT_EQ(texts.Text(t), ShortTimeText(t)) << t;
  for (std::uint32_t t = 0; t < 0x7FFFFFFFu - 7777777u; t += 7777777u) {
    ASSERT_EQ(texts.Text(t), ShortTimeText(t)) << t;
    ASSERT_EQ(texts.Text(t + 61), ShortTimeText(t + 61)) << t;
  }
}

TEST(UtcAppendTimeTextTest, AddsToWhatIsThere) {
  std::string text = "at ";
  AppendLongTimeText(text, 1234567890);
  text += " / ";
  AppendShortTimeText(text, 0x80000001u);
  EXPECT_EQ(text, "at Fri Feb 13 23:31:30 2009 / invalid time");
}

// Bit by bit, most significant first, as the instrument packs it.
std::string BitwiseText12(const std::uint8_t* packed) {
  std::string text;
  for (std::size_t k = 0; k < kPackedTextChars; ++k) {
    int code = 0;
    for (std::size_t b = 0; b < 6; ++b) {
      const std::size_t bit = 4 + 6 * k + b;
      code = (code << 1) | ((packed[bit / 8] >> (7 - bit % 8)) & 1);
    }
    text.push_back(static_cast<char>(0x20 + code));
  }
  return text;
}

TEST(Text12WindowTest, EveryFormAgreesWithTheBitwiseReading) {
  std::uint32_t state = 12345;
  for (int round = 0; round < 2000; ++round) {
    std::uint8_t packed[kPackedTextBytes];
    for (std::uint8_t& byte : packed) {
      state = state * 1103515245u + 12345u;
      byte = static_cast<std::uint8_t>(state >> 16);
      if (round % 3 == 0 && (state & 0x100)) byte = 0;  // runs of blanks
    }
    const std::span<const std::uint8_t, kPackedTextBytes> view(packed);
    std::string full = BitwiseText12(packed);
    char chars[kPackedTextChars];
    const std::size_t length = UnpackText12(view, chars);
    ASSERT_EQ(std::string(chars, kPackedTextChars), full);
    const auto last = full.find_last_not_of(' ');
    full.erase(last == std::string::npos ? 0 : last + 1);
    ASSERT_EQ(length, full.size());
    ASSERT_EQ(UnpackText12(view), full);
    std::string appended = "x  ";
    AppendText12(appended, view);
    ASSERT_EQ(appended, "x  " + full);
  }
}

}  // namespace
}  // namespace zephor::database
