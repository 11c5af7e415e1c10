// "_Quarvel.txt": sections, measurement lines, functional-test lines and UTC times.
#include "database/survey_report.h"

#include <gtest/gtest.h>

#include "database/database_file.h"
#include "database_fixture.h"

namespace zephor::database {
namespace {

using testing::Bytes;
using testing::Join;

const Bytes kAbc = {0x08, 0x62, 0x8C, 0, 0, 0, 0, 0, 0, 0};
const Bytes kReportTrailer(10, 0x00);
const Bytes kReportEnd = {0xFF};

void PutBE32(Bytes& bytes, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8)
    bytes.push_back(static_cast<std::uint8_t>(v >> shift));
}

Bytes Header(std::uint16_t flags, std::uint32_t start, std::uint32_t stop, std::uint16_t count,
             std::uint8_t tag = 0xBF) {
  Bytes h = {tag, 0xF8, 0x77, 0x00, 0x12, 0x34};  // byte 2 is not part of the IMO number
  h.push_back(static_cast<std::uint8_t>(flags >> 8));
  h.push_back(static_cast<std::uint8_t>(flags));
  h.insert(h.end(), kAbc.begin(), kAbc.end());
  PutBE32(h, start);
  PutBE32(h, stop);
  h.push_back(static_cast<std::uint8_t>(count >> 8));
  h.push_back(static_cast<std::uint8_t>(count));
  return h;
}

// Hold 2, hatch 3, type 2, level 12.5 with A 20, time 0, sensor 1234, label ABC.
const Bytes kMeasure = {0x00, 0x12, 0x03, 0x00, 0x12, 0x71, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                        0x04, 0xD2, 0x08, 0x62, 0x8C, 0,    0,    0,    0,    0,    0,    0};

const std::string kIdentityLines =
    "Ship number IMO 4660 \nMeasured with equipment QLX NE123456.\nOperator: ABC\n";

class SurveyReportTest : public testing::DatabaseTest {
 protected:
  std::string Report(const Bytes& database, std::int32_t build = 224) {
    EXPECT_TRUE(WriteSurveyReport(station, database, testing::InfoWith(123456, build), directory));
    return ReadText(kReportFileName);
  }
};

TEST_F(SurveyReportTest, SectionWithTheAColumn) {
  const std::string report =
      Report(Join({Header(0x0001, 0, 1234567890, 0x8001), kMeasure, kReportTrailer, kReportEnd}));
  EXPECT_EQ(report, "Functional test is done.\n" + kIdentityLines +
                        "Survey started on Thu Jan 01 00:00:00 1970\n"
                        "Survey stopped on  Fri Feb 13 23:31:30 2009\n"
                        "1  hold2  hatch3 MEASURE      12.5 dB\xB5V A=20\tThu Jan 01, 1970 00:00\t"
                        "serial number sensor 1234\tABC\n"
                        "End survey functional test is done.\n"
                        "\n\n\n\n");
  ASSERT_EQ(panel.messages.size(), 1u);
  EXPECT_EQ(panel.messages[0], "The measurements can be found back in _Quarvel.TXT");
  EXPECT_EQ(timing.now(), kCloseDelayMs);
  EXPECT_EQ(report.find('\r'), std::string::npos);
}

TEST_F(SurveyReportTest, Build223LeavesTheAColumnOut) {
  const std::string report = Report(
      Join({Header(0x0001, 0, 1234567890, 0x0001), kMeasure, kReportTrailer, kReportEnd}), 223);
  EXPECT_NE(
      report.find("1  hold2  hatch3 MEASURE      12.5 dB\xB5V\tThu Jan 01, 1970 00:00\t"
                  "serial number sensor 1234\tABC\nEnd survey functional test is NOT done.\n"),
      std::string::npos);
  EXPECT_EQ(report.find("A="), std::string::npos);
}

TEST_F(SurveyReportTest, TypeCodesSensorZeroAndOhValueLine) {
  const Bytes noType = {0x00, 0x00, 0x00, 0x00, 0x01, 0xF4, 0, 0, 0, 0, 0, 0,
                        0,    0,    0,    0,    0,    0,    0, 0, 0, 0, 0, 0};
  const Bytes ohValue = {0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x3B, 0x9A, 0xCA, 0x00, 0xFF, 0xFF,
                         0xFF, 0xFF, 0x08, 0x62, 0x8C, 0,    0,    0,    0,    0,    0,    0};
  const Bytes code7 = {0x00, 0xF7, 0xFF, 0x00, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0,
                       0,    0,    0,    0,    0,    0,    0, 0, 0, 0, 0, 0};
  const std::string report = Report(
      Join({Header(0x0000, 0, 0, 0x0003), noType, ohValue, code7, kReportTrailer, kReportEnd}),
      300);
  EXPECT_EQ(report,
            "Functional test is NOT done.\n" + kIdentityLines +
                "Survey started on Thu Jan 01 00:00:00 1970\n"
                "Survey stopped on  Thu Jan 01 00:00:00 1970\n"
                "1  hold1  hatch0   0.0 dB\xB5V A=0\tThu Jan 01, 1970 00:00\t\t\n"
                "2  hold1  hatch0 O.H. VALUE  -50.0 dB\xB5V A=0\tSun Sep 09, 2001 01:46\t"
                "serial number sensor -1\tABC\n\n"
                "3  hold16  hatch255             154.7 dB\xB5V A=310\tThu Jan 01, 1970 00:00\t\t\n"
                "End survey functional test is NOT done.\n"
                "\n\n\n\n");
}

TEST_F(SurveyReportTest, SurveyNotStoppedEndsTheReport) {
  const std::string report =
      Report(Join({Header(0x0001, 1000000000, 0xFFFFFFFF, 0x0001), kMeasure, kReportTrailer,
                   Header(0x0001, 0, 0, 0x0000), kReportTrailer, kReportEnd}));
  EXPECT_EQ(report, "Functional test is done.\n" + kIdentityLines +
                        "Survey started on Sun Sep 09 01:46:40 2001\n"
                        "\n\tSurvey not stopped !!!\n");
}

TEST_F(SurveyReportTest, NoMeasurementsStepsOverATrailer) {
  // The ten bytes after the empty header would read as a plain record if they were not skipped.
  const std::string report =
      Report(Join({Header(0x0000, 0, 0, 0x7FFF, 0x9F), Bytes(10, 0x00),
                   Header(0x0000, 0, 0, 0x0000), kReportTrailer, kReportEnd}));
  const std::string empty = "Functional test is NOT done.\n" + kIdentityLines +
                            "Survey started on Thu Jan 01 00:00:00 1970\n"
                            "Survey stopped on  Thu Jan 01 00:00:00 1970\n"
                            "\n\tThere are no measurements !!!\n"
                            "\n\n\n\n";
  const std::string zero = "Functional test is NOT done.\n" + kIdentityLines +
                           "Survey started on Thu Jan 01 00:00:00 1970\n"
                           "Survey stopped on  Thu Jan 01 00:00:00 1970\n"
                           "\n\n\n\n";
  EXPECT_EQ(report, empty + zero);
}

TEST_F(SurveyReportTest, EndTestResultCarriesIntoTheNextSurvey) {
  const std::string report =
      Report(Join({Header(0x0000, 0, 0, 0x8000), kReportTrailer, Header(0x0000, 0, 0, 0x0000),
                   kReportTrailer, kReportEnd}));
  const std::string second = "Functional test is done.\n" + kIdentityLines;
  ASSERT_EQ(report.rfind(second), report.find("Functional test is done.\n"));
  EXPECT_EQ(report.find("Functional test is NOT done.\n"), 0u);
  EXPECT_NE(report.find(second), std::string::npos);
}

TEST_F(SurveyReportTest, PlainAndValueRecordsAreSkipped) {
  const Bytes plain(12, 0x00);
  const Bytes value = {0x80, 0, 0, 0x15, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(Report(Join({plain, value, Bytes{0x1A}, Header(0x0001, 0, 0, 0), kReportTrailer})), "");
  EXPECT_EQ(panel.messages.size(), 1u);
}

TEST_F(SurveyReportTest, EmptyDatabaseGivesAnEmptyFileAndTheMessage) {
  EXPECT_EQ(Report(Bytes{0xFF}), "");
  EXPECT_TRUE(Exists(kReportFileName));
  ASSERT_EQ(panel.messages.size(), 1u);
  EXPECT_EQ(panel.log, "");
}

TEST_F(SurveyReportTest, InvalidTimesAreShownAsSuch) {
  const Bytes late = {0x00, 0x12, 0x03, 0x00, 0x12, 0x71, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00,
                      0x00, 0x00, 0x00, 0,    0,    0,    0,    0,    0,    0,    0,    0};
  const std::string report = Report(
      Join({Header(0x0001, 0x80000000, 0xFFFFFFFE, 0x0001), late, kReportTrailer, kReportEnd}));
  EXPECT_NE(report.find("Survey started on invalid time\nSurvey stopped on  invalid time\n"),
            std::string::npos);
  EXPECT_NE(report.find("A=20\tinvalid time\t\t\n"), std::string::npos);
}

TEST_F(SurveyReportTest, TruncatedDataReportsWholeSurveysAndLogs) {
  const Bytes cut = Join({Header(0x0001, 0, 0, 0x0002), kMeasure});
  const std::string report = Report(Join({Header(0x0000, 0, 0, 0x0000), kReportTrailer, cut}));
  EXPECT_EQ(report, "Functional test is NOT done.\n" + kIdentityLines +
                        "Survey started on Thu Jan 01 00:00:00 1970\n"
                        "Survey stopped on  Thu Jan 01 00:00:00 1970\n"
                        "\n\n\n\n");
  EXPECT_EQ(panel.log, "\tDataBase truncated.\r\n");
}

TEST_F(SurveyReportTest, UnopenableFileIsToldAndTheReportEnds) {
  EXPECT_FALSE(
      WriteSurveyReport(station, Bytes{0xFF}, testing::InfoWith(1, 300), directory / "missing"));
  ASSERT_EQ(panel.messages.size(), 1u);
  EXPECT_EQ(panel.messages[0], "Can't open file _Quarvel.TXT");
}

}  // namespace
}  // namespace zephor::database
