// The erase conversation against scripted instruments.
#include "device/erase.h"

#include "device_fixture.h"
#include "serial/status_codes.h"

namespace zephor::device {
namespace {

const std::string kSectionFrame =
    "\t--------------------------\r\n"
    "\t----  ZEPHOR  ----\r\n"
    "\t--------------------------\r\n"
    "\tErase data ZEPHOR.\r\n";

// The unlock's answer arrives on the first virtual millisecond.
constexpr std::uint32_t kUnlockedAt = 1;

using EraseTest = DeviceFixture;

TEST_F(EraseTest, AnnouncedEraseFramesTheLogAndEndsFinished) {
  instrument.Answer("UNLOCK", kOkPrompt);
  instrument.Answer("erase 40718293", "OK\r\n");
  instrument.Answer("LOCK", "OK\r\n");
  EXPECT_TRUE(EraseLogger(station, true));
  EXPECT_EQ(panel.log, kSectionFrame + "\tFinished.\r\n");
  EXPECT_EQ(instrument.lines, (std::vector<std::string>{"UNLOCK", "erase 40718293", "LOCK"}));
  // The erase answer ends its read at once; after LOCK the prompt wait runs 500 ms and the
  // second answer read finds nothing for 5000 ms.
  EXPECT_EQ(instrument.TimeOf("LOCK") - instrument.TimeOf("erase 40718293"), 1u);
  EXPECT_EQ(timing.now() - instrument.TimeOf("LOCK"), 500u + 5000u);
}

TEST_F(EraseTest, QuietEraseLogsOneLine) {
  instrument.Answer("UNLOCK", kOkPrompt);
  instrument.Answer("erase 40718293", "OK\r\n");
  instrument.Answer("LOCK", "OK\r\n");
  EXPECT_TRUE(EraseLogger(station, false));
  EXPECT_EQ(panel.log, "\tErase data ZEPHOR.\r\n");
}

TEST_F(EraseTest, SilentAfterUnlockWaitsEveryLimit) {
  instrument.Answer("UNLOCK", kOkPrompt);
  EXPECT_TRUE(EraseLogger(station, true));
  EXPECT_EQ(timing.now(), kUnlockedAt + 5000u + 500u + 500u + 5000u);
  EXPECT_EQ(panel.log, kSectionFrame + "\tFinished.\r\n");
  EXPECT_TRUE(instrument.Got("LOCK"));
}

TEST_F(EraseTest, LongAnswerMakesTheLockFailButResultStaysTrue) {
  instrument.Answer("UNLOCK", kOkPrompt);
  instrument.Answer("erase 40718293", "ERASED\r\n");
  EXPECT_TRUE(EraseLogger(station, true));
  timing.Advance(1);  // the line carries what was still queued
  // Buffer full is sticky: LOCK goes out without its line feed.
  EXPECT_FALSE(instrument.Got("LOCK"));
  EXPECT_EQ(instrument.pending, "LOCK");
  EXPECT_EQ(panel.log, kSectionFrame + "\tFinished.\r\n");
}

TEST_F(EraseTest, QuietEraseOnFailedUnlockLogsOnlyItsLine) {
  EXPECT_FALSE(EraseLogger(station, false));
  ASSERT_EQ(panel.messages.size(), 1u);
  EXPECT_EQ(panel.messages[0], "ZEPHOR connected ?\n");
  EXPECT_EQ(panel.logAtMessage[0], "\tErase data ZEPHOR.\r\n");
  EXPECT_EQ(panel.log, "\tErase data ZEPHOR.\r\n");
  EXPECT_EQ(station.statusText, "No ZEPHOR connected");
  EXPECT_EQ(instrument.lines, std::vector<std::string>{"UNLOCK"});
}

TEST_F(EraseTest, AnnouncedEraseOnFailedUnlockLogsNothingMore) {
  instrument.Answer("UNLOCK", "OK\r\n");
  EXPECT_FALSE(EraseLogger(station, true));
  EXPECT_EQ(panel.log, kSectionFrame);
  EXPECT_EQ(panel.messages.size(), 1u);
  EXPECT_FALSE(instrument.Got("erase 40718293"));
}

TEST_F(EraseTest, MissingPortSendsNothing) {
  station.portIndex = 1;
  EXPECT_FALSE(EraseLogger(station, true));
  EXPECT_EQ(station.statusText, "No ZEPHOR connected");
  EXPECT_TRUE(instrument.received.empty());
}

TEST(EraseCodeTest, EightDigits) { EXPECT_EQ(std::to_string(kEraseCode), "40718293"); }

}  // namespace
}  // namespace zephor::device
