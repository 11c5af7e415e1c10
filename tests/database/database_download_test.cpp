// The download conversation against a scripted peer and against the simulated instrument.
#include "database/database_download.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "chain_fixture.h"
#include "database/database_file.h"
#include "sim/database_generator.h"
#include "transfer/xfer.h"

namespace zephor::database::testing {
namespace {

constexpr std::size_t kBlock = 128;

class DownloadTest : public ChainTest {
 protected:
  bool Download() { return DownloadDatabase(station, 0, directory); }
};

TEST_F(DownloadTest, ThreeZerosMeanAnEmptyDatabase) {
  UseScript();
  script.Answer("UNLOCK", "OK\n>");
  script.Answer("DOWNLOAD", "0 0 0\r\n");
  EXPECT_FALSE(Download());
  EXPECT_NE(panel.log.find("\tDataBase empty.\r\n"), std::string::npos);
  EXPECT_EQ(script.lines, (std::vector<std::string>{"UNLOCK", "DOWNLOAD", "LOCK"}));
  EXPECT_EQ(panel.progress, std::vector<int>{0});
  EXPECT_TRUE(panel.messages.empty());
  EXPECT_FALSE(Exists(kDatabaseFileName));
  EXPECT_EQ(station.downloadReply[1], 0);
}

TEST_F(DownloadTest, TheSectionComesFirst) {
  UseScript();
  script.Answer("UNLOCK", "OK\n>");
  script.Answer("DOWNLOAD", "0 0 0\r\n");
  Download();
  ASSERT_NE(panel.log.find("Read Data ZEPHOR"), std::string::npos);
  EXPECT_LT(panel.log.find("Read Data ZEPHOR"), panel.log.find("DataBase empty"));
}

TEST_F(DownloadTest, EmptySimulatedMemoryIsReportedEmpty) {
  UseInstrument(sim::InstrumentState{});
  EXPECT_FALSE(Download());
  EXPECT_NE(panel.log.find("\tDataBase empty.\r\n"), std::string::npos);
  EXPECT_EQ(Commands(), (std::vector<std::string>{"UNLOCK", "DOWNLOAD", "LOCK"}));
  EXPECT_EQ(station.downloadReply[0], 1);
  EXPECT_FALSE(Exists(kDatabaseFileName));
}

struct ReplyCase {
  const char* name;
  const char* answer;
  int word1, word2, word3;
};

void PrintTo(const ReplyCase& c, std::ostream* out) { *out << c.name; }

class DownloadReplyTest : public DownloadTest, public ::testing::WithParamInterface<ReplyCase> {};

// Any non-zero second number starts the transfer; the silent peer then lets it fail.
TEST_P(DownloadReplyTest, NumbersAreStoredAsRead) {
  UseScript();
  script.Answer("UNLOCK", "OK\n>");
  script.Answer("DOWNLOAD", GetParam().answer);
  EXPECT_FALSE(Download());
  EXPECT_EQ(station.downloadReply[0], GetParam().word1);
  EXPECT_EQ(station.downloadReply[1], GetParam().word2);
  EXPECT_EQ(station.downloadReply[2], GetParam().word3);
  ASSERT_EQ(panel.messages.size(), 1u);
  EXPECT_EQ(panel.messages[0].rfind("Error in file transfer -", 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Digits, DownloadReplyTest,
    ::testing::Values(ReplyCase{"LowerCaseHex", "1 abcd ef01\r\n", 1, 0xABCD, 0xEF01},
                      ReplyCase{"UpperCaseHex", "1 ABCD EF01\r\n", 1, 0xABCD, 0xEF01},
                      ReplyCase{"PrefixedHex", "0x1F 0Ff 7\r\n", 0x1F, 0xFF, 7},
                      ReplyCase{"LeadingZeroReadsAsOctal", "010 1 0\r\n", 8, 1, 0},
                      ReplyCase{"NegativeAndAllOnes", "-3 ffffffff 0\r\n", -3, -1, 0},
                      ReplyCase{"OnlyTheFirstFifteenBytesAreRead", "12 5 00000000000000012345\r\n",
                                12, 5, 0}),
    [](const ::testing::TestParamInfo<ReplyCase>& info) { return info.param.name; });

TEST_F(DownloadTest, FieldsThatDoNotParseKeepTheirEarlierValues) {
  UseScript();
  script.Answer("UNLOCK", "OK\n>");
  script.Answer("DOWNLOAD", "42 zz 9\r\n");
  station.downloadReply[0] = 7;
  station.downloadReply[1] = 8;
  station.downloadReply[2] = 9;
  EXPECT_FALSE(Download());
  EXPECT_EQ(station.downloadReply[0], 42);
  EXPECT_EQ(station.downloadReply[1], 8);
  EXPECT_EQ(station.downloadReply[2], 9);
  // The kept non-zero size still asks for the transfer.
  ASSERT_EQ(panel.messages.size(), 1u);
  EXPECT_EQ(panel.messages[0].rfind("Error in file transfer", 0), 0u);
}

TEST_F(DownloadTest, NoAnswerLeavesZeroAndCountsAsEmpty) {
  UseScript();
  script.Answer("UNLOCK", "OK\n>");
  EXPECT_FALSE(Download());
  EXPECT_NE(panel.log.find("DataBase empty"), std::string::npos);
  EXPECT_EQ(script.lines.back(), "LOCK");
}

TEST_F(DownloadTest, NoAnswerToUnlockSendsNoDownload) {
  UseScript();
  EXPECT_FALSE(Download());
  EXPECT_EQ(panel.messages, std::vector<std::string>{"No response of ZEPHOR"});
  EXPECT_EQ(script.lines, std::vector<std::string>{"UNLOCK"});
  EXPECT_TRUE(panel.progress.empty());
}

TEST_F(DownloadTest, UnlockWithCarriageReturnIsNoAnswer) {
  UseInstrument(sim::InstrumentState{}, sim::Fault::kOkWithCrLf);
  EXPECT_FALSE(Download());
  EXPECT_EQ(panel.messages, std::vector<std::string>{"No response of ZEPHOR"});
  EXPECT_EQ(Commands(), std::vector<std::string>{"UNLOCK"});
}

TEST_F(DownloadTest, SilentTransferShowsItsCodeAndDoesNotLock) {
  UseScript();
  script.Answer("UNLOCK", "OK\n>");
  script.Answer("DOWNLOAD", "1 80 0\r\n");
  EXPECT_FALSE(Download());
  ASSERT_EQ(panel.messages.size(), 1u);
  EXPECT_EQ(panel.messages[0], "Error in file transfer " + std::to_string(transfer::kXferNoStart));
  EXPECT_EQ(script.lines, (std::vector<std::string>{"UNLOCK", "DOWNLOAD"}));
  EXPECT_FALSE(Exists(kDatabaseFileName));
}

TEST_F(DownloadTest, CancelledTransferShowsItsCode) {
  sim::InstrumentState state;
  state.memory = sim::GenerateDatabase(3, 2000);
  sim::FaultSet faults;
  faults.cancelAtBlock = 3;
  UseInstrument(state, faults);
  EXPECT_FALSE(Download());
  ASSERT_EQ(panel.messages.size(), 1u);
  EXPECT_EQ(panel.messages[0],
            "Error in file transfer " + std::to_string(transfer::kXferCancelled));
  EXPECT_FALSE(CommandTime("LOCK").has_value());
  EXPECT_FALSE(Exists(kDatabaseFileName));
}

TEST_F(DownloadTest, SavesTheMemoryInWholeBlocks) {
  sim::InstrumentState state;
  state.memory = sim::GenerateDatabase(11, 5000);
  UseInstrument(state);
  ASSERT_TRUE(Download());
  const Bytes saved = ReadOut(kDatabaseFileName);
  EXPECT_EQ(saved.size() % kBlock, 0u);
  ASSERT_GE(saved.size(), state.memory.size());
  EXPECT_TRUE(std::equal(state.memory.begin(), state.memory.end(), saved.begin()));
  EXPECT_EQ(station.downloadReply[0], 1);
  EXPECT_EQ(station.downloadReply[1], static_cast<int>(state.memory.size()));
  EXPECT_EQ(station.downloadReply[2], 0);
  EXPECT_TRUE(panel.messages.empty());
  EXPECT_TRUE(panel.progress.empty());
}

TEST_F(DownloadTest, AfterTheTransferAnEmptyLineThenLockAfterTheSettlePause) {
  sim::InstrumentState state;
  state.memory = sim::GenerateDatabase(12, 1500);
  UseInstrument(state);
  ASSERT_TRUE(Download());
  EXPECT_EQ(Commands(), (std::vector<std::string>{"UNLOCK", "DOWNLOAD", "", "LOCK"}));
  const auto empty = CommandTime("");
  const auto lock = CommandTime("LOCK");
  ASSERT_TRUE(empty && lock);
  EXPECT_GE(*lock - *empty, kSettlePauseMs);
  EXPECT_FALSE(instrument->model().unlocked());
}

}  // namespace
}  // namespace zephor::database::testing
