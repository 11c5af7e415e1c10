// Identification against scripted instruments: loader letters, unlock failures, the report.
#include "device/identify.h"

#include "device/unlock.h"
#include "device_fixture.h"

namespace zephor::device {
namespace {

class IdentifyTest : public DeviceFixture {
 protected:
  void AnswerEverything(const std::string& report) {
    instrument.Answer("UNLOCK", kOkPrompt);
    instrument.Answer("system", report);
    instrument.Answer("LOCK", kOkPrompt);
  }
  DeviceInfo info;
};

// A silent instrument may be one still inside a transfer a stopped run left open: after the
// first unanswered unlock the cancel sequence ends any transfer, the line is heard out for a
// quiet second, and it is asked once more before the box.
TEST_F(IdentifyTest, SilentInstrumentIsClearedAndAskedOnceMoreBeforeTheBox) {
  EXPECT_FALSE(Identify(station, info));
  ASSERT_EQ(panel.messages.size(), 1u);
  EXPECT_EQ(panel.messages[0], "ZEPHOR connected ?\n");
  EXPECT_EQ(panel.messageButtons[0], MessageButtons::kOk);
  EXPECT_EQ(panel.messageTimes[0], 2 * (1000u + 500u + 500u) + 1000u);
  EXPECT_EQ(station.statusText, "No ZEPHOR connected");
  const std::string cancel = std::string(10, '\x18') + std::string(10, '\x08');
  EXPECT_EQ(instrument.received, "UNLOCK\n" + cancel + "UNLOCK\n");  // no LOCK on this path
}

TEST_F(IdentifyTest, MissingPortGivesTheSameBox) {
  station.portIndex = 2;
  EXPECT_FALSE(Identify(station, info));
  ASSERT_EQ(panel.messages.size(), 1u);
  EXPECT_EQ(panel.messages[0], "ZEPHOR connected ?\n");
  EXPECT_EQ(station.statusText, "No ZEPHOR connected");
  EXPECT_TRUE(instrument.received.empty());
}

TEST_F(IdentifyTest, EmptiesTheLogFirst) {
  panel.log = "old text";
  Identify(station, info);
  EXPECT_EQ(panel.clears, 1);
  EXPECT_EQ(panel.log, "");
}

struct LoaderCase {
  const char* letter;
  const char* status;
};

class LoaderLetterTest : public IdentifyTest, public ::testing::WithParamInterface<LoaderCase> {};

TEST_P(LoaderLetterTest, LetterWithinFirstSecondEndsWithoutWriting) {
  AnswerEverything(Report("1.40", "1.2", "1.3", "1", "200067890", "QH"));
  instrument.SendAt(900, GetParam().letter);
  info.build = 77;
  EXPECT_TRUE(Identify(station, info));
  EXPECT_EQ(station.statusText, GetParam().status);
  EXPECT_TRUE(instrument.received.empty());
  EXPECT_TRUE(panel.messages.empty());
  EXPECT_EQ(timing.now(), 900u);
  EXPECT_EQ(info.build, 77);  // untouched
  EXPECT_EQ(info.mainVersion, 0.0f);
}

INSTANTIATE_TEST_SUITE_P(Letters, LoaderLetterTest,
                         ::testing::Values(LoaderCase{"B", "No BOOT program"},
                                           LoaderCase{"U", "No UPDATE program"},
                                           LoaderCase{"S", "No MAIN program"}));

TEST_F(IdentifyTest, LetterAfterTheFirstSecondIsNotALoader) {
  instrument.SendAt(1001, "U");
  EXPECT_FALSE(Identify(station, info));
  EXPECT_EQ(station.statusText, "No ZEPHOR connected");
}

TEST_F(IdentifyTest, OtherFirstCharacterGoesOnToTheUnlock) {
  AnswerEverything(Report("1.40", "1.2", "1.3", "1", "200067890", "QH"));
  instrument.SendAt(5, "X");
  EXPECT_TRUE(Identify(station, info));
  EXPECT_EQ(station.statusText, "OK");
  EXPECT_EQ(info.build, 112);
}

TEST_F(IdentifyTest, OkWithCarriageReturnFailsTheUnlock) {
  instrument.Answer("UNLOCK", "OK\r\n>");
  EXPECT_FALSE(Identify(station, info));
  EXPECT_EQ(panel.messages.size(), 1u);
  EXPECT_EQ(station.statusText, "No ZEPHOR connected");
  EXPECT_FALSE(instrument.Got("system"));
}

TEST_F(IdentifyTest, NineteenCharacterReplyFailsTheUnlock) {
  instrument.Answer("UNLOCK", "OK OK OK OK OK OK O\n>");
  EXPECT_FALSE(Identify(station, info));
  EXPECT_EQ(panel.messages.size(), 1u);
  EXPECT_EQ(station.statusText, "No ZEPHOR connected");
  EXPECT_FALSE(instrument.Got("system"));
}

TEST_F(IdentifyTest, FullConversationFillsTheRecord) {
  AnswerEverything(Report("1.40", "1.2", "1.3", "1", "200067890", "QH"));
  EXPECT_TRUE(Identify(station, info));
  EXPECT_EQ(station.statusText, "OK");
  EXPECT_TRUE(panel.messages.empty());
  EXPECT_EQ(instrument.lines, (std::vector<std::string>{"UNLOCK", "system", "LOCK"}));
  EXPECT_EQ(instrument.received, "UNLOCK\nsystem\nLOCK\n");
  EXPECT_EQ(info.equipmentNumber, 100012345);
  EXPECT_EQ(info.cardIssue, 1);
  EXPECT_EQ(info.cardNumber, 200067890);
  EXPECT_EQ(info.mainVersion, 1.4f);
  EXPECT_EQ(info.bootVersion, 1.2f);
  EXPECT_EQ(info.updateVersion, 1.3f);
  EXPECT_EQ(info.grade, "QH");
  EXPECT_EQ(info.build, 112);
}

TEST_F(IdentifyTest, ReportAndTailReadsRunTheirLimits) {
  AnswerEverything(Report("1.40", "1.2", "1.3", "1", "200067890", "QH"));
  ASSERT_TRUE(Identify(station, info));
  // A report shorter than 350 bytes keeps the read for its 500 ms, the tail for its 1000 ms.
  EXPECT_EQ(instrument.TimeOf("LOCK") - instrument.TimeOf("system"), 500u + 1000u);
}

TEST_F(IdentifyTest, OldInstrumentPrintsUndottedVersions) {
  AnswerEverything(Report("1.13", "12 ", "11 ", "2", "A12345678", "Q "));
  ASSERT_TRUE(Identify(station, info));
  EXPECT_EQ(info.bootVersion, 1.2f);
  EXPECT_EQ(info.updateVersion, 1.1f);
  EXPECT_EQ(info.cardNumber, 12345678);
  EXPECT_EQ(info.grade, "Q");
}

TEST_F(IdentifyTest, LabelsBeyondThreeHundredFiftyAreNotFound) {
  AnswerEverything(std::string(340, '.') + Report("1.40", "1.2", "1.3", "1", "200067890", "QH"));
  ASSERT_TRUE(Identify(station, info));
  EXPECT_EQ(station.statusText, "OK");
  EXPECT_EQ(info.equipmentNumber, 0);  // its value runs past the cut
  EXPECT_EQ(info.build, 0);
}

TEST_F(IdentifyTest, LateReportIsParsedAsFarAsItArrived) {
  instrument.Answer("UNLOCK", kOkPrompt);
  instrument.Answer("system", Report("1.40", "1.2", "1.3", "1", "200067890", "QH"), 600);
  instrument.Answer("LOCK", kOkPrompt);
  EXPECT_TRUE(Identify(station, info));
  EXPECT_EQ(info.build, 0);
  EXPECT_EQ(station.statusText, "OK");
}

}  // namespace
}  // namespace zephor::device
