// The Info reports and the Info button against scripted instruments.
#include "device/info_report.h"

#include "device_fixture.h"

namespace zephor::device {
namespace {

const std::string kNoInfoFrame =
    "\t--------------------------------------\r\n"
    "\t----  No info available ----\r\n"
    "\t--------------------------------------\r\n";

using InfoReportTest = DeviceFixture;

TEST_F(InfoReportTest, SystemInfoLines) {
  DeviceInfo info;
  info.equipmentNumber = 100012345;
  info.cardNumber = 12345678;
  info.cardIssue = 2;
  info.bootVersion = 12.0f / 10.0f;
  info.updateVersion = 1.3f;
  info.mainVersion = 1.4f;
  info.grade = "Q";
  info.build = 112;
  ShowSystemInfo(station, info);
  EXPECT_EQ(panel.log,
            "\t------------------------------\r\n"
            "\t----  System info  ----\r\n"
            "\t------------------------------\r\n"
            "\t----  Software info  ----\r\n"
            "\tBoot version\t: 1.2\r\n"
            "\tUpdate version\t: 1.3\r\n"
            "\tMain version\t: 1.40\r\n"
            "\tBuild\t\t: 112\r\n"
            "\tGrade\t\t:  Q\r\n"
            "\t----  Hardware info  ----\r\n"
            "\tIssue card\t: 2\r\n"
            "\tNumber equipment\t: 100012345\r\n"
            "\tNumber card\t: 12345678\r\n");
  EXPECT_EQ(panel.progress, std::vector<int>{100});
}

TEST_F(InfoReportTest, WideVersionsAndEmptyGrade) {
  DeviceInfo info;
  info.bootVersion = 12.0f;
  info.mainVersion = 1.13f;
  ShowSystemInfo(station, info);
  EXPECT_NE(panel.log.find("\tBoot version\t: 12.0\r\n"), std::string::npos);
  EXPECT_NE(panel.log.find("\tUpdate version\t: 0.0\r\n"), std::string::npos);
  EXPECT_NE(panel.log.find("\tMain version\t: 1.13\r\n"), std::string::npos);
  EXPECT_NE(panel.log.find("\tGrade\t\t:   \r\n"), std::string::npos);
}

TEST_F(InfoReportTest, NoInfoEndsWithStatusAndBlank) {
  station.statusText = "No MAIN program";
  ShowNoInfo(station);
  EXPECT_EQ(panel.log, kNoInfoFrame + "\tNo MAIN program \r\n");
}

TEST_F(InfoReportTest, InfoAgainstSilentPortShowsBoxThenFrame) {
  panel.log = "earlier text\r\n";
  OnInfo(station);
  ASSERT_EQ(panel.messages.size(), 1u);
  EXPECT_EQ(panel.messages[0], "ZEPHOR connected ?\n");
  EXPECT_EQ(panel.logAtMessage[0], "");  // the frame follows the box
  EXPECT_EQ(panel.log, kNoInfoFrame + "\tNo ZEPHOR connected \r\n");
  EXPECT_EQ(panel.progress, std::vector<int>{0});
}

TEST_F(InfoReportTest, InfoAgainstBootLoaderShowsNoBox) {
  instrument.SendAt(100, "B");
  OnInfo(station);
  EXPECT_TRUE(panel.messages.empty());
  EXPECT_EQ(panel.log, kNoInfoFrame + "\tNo BOOT program \r\n");
  EXPECT_EQ(panel.progress, (std::vector<int>{0, 0}));
  EXPECT_TRUE(instrument.received.empty());
}

TEST_F(InfoReportTest, InfoAgainstInstrumentPrintsItsReport) {
  panel.log = "earlier text\r\n";
  instrument.Answer("UNLOCK", kOkPrompt);
  instrument.Answer("system", Report("1.40", "1.2", "1.3", "1", "200067890", " Q"));
  instrument.Answer("LOCK", kOkPrompt);
  OnInfo(station);
  EXPECT_TRUE(panel.messages.empty());
  EXPECT_EQ(panel.progress, (std::vector<int>{0, 50, 100, 100, 0}));
  EXPECT_EQ(panel.log.rfind("\t------------------------------\r\n\t----  System info", 0), 0u);
  EXPECT_NE(panel.log.find("\tMain version\t: 1.40\r\n"), std::string::npos);
  EXPECT_NE(panel.log.find("\tGrade\t\t:  Q\r\n"), std::string::npos);
  EXPECT_NE(panel.log.find("\tNumber equipment\t: 100012345\r\n"), std::string::npos);
  EXPECT_EQ(panel.log.find("earlier"), std::string::npos);
}

}  // namespace
}  // namespace zephor::device
