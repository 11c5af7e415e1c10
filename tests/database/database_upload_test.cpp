// The upload of the converted database: its announcement, its ordering and the converted-only rule.
#include "database/database_upload.h"

#include <gtest/gtest.h>

#include "chain_fixture.h"
#include "database/database_file.h"
#include "sim/database_generator.h"
#include "transfer/crc16.h"
#include "transfer/xfer.h"

namespace zephor::database::testing {
namespace {

constexpr std::size_t kFileLength = 300;
constexpr std::uint16_t kWantedCheck = 0x001F;

// 300 bytes whose CRC-16 is 0x001F: the last two bytes are searched for.
Bytes FileWithCheck() {
  Bytes file(kFileLength);
  for (std::size_t i = 0; i < file.size(); ++i) file[i] = static_cast<std::uint8_t>(i * 7);
  const std::uint16_t head = transfer::Crc16(kFileLength - 2, 0, file.data());
  for (unsigned tail = 0; tail <= 0xFFFF; ++tail) {
    file[kFileLength - 2] = static_cast<std::uint8_t>(tail >> 8);
    file[kFileLength - 1] = static_cast<std::uint8_t>(tail);
    if (transfer::Crc16(2, head, file.data() + kFileLength - 2) == kWantedCheck) return file;
  }
  ADD_FAILURE() << "no tail gives the check code";
  return file;
}

TEST(UploadCommandText, LengthAndCheckInLowerCaseHex) {
  EXPECT_EQ(UploadCommandText(300, 0x001F), "UPLOAD 3 0x12c 0x  1f");
  EXPECT_EQ(UploadCommandText(0, 0), "UPLOAD 3 0x0 0x   0");
  EXPECT_EQ(UploadCommandText(0xABCDEF, 0xABCD), "UPLOAD 3 0xabcdef 0xabcd");
}

class UploadTest : public ChainTest {
 protected:
  void Upload(SavedDatabaseOutcome outcome = SavedDatabaseOutcome::kConverted) {
    UploadDatabase(station, 0, outcome, directory);
  }
};

TEST_F(UploadTest, AnnouncesLengthAndCheckOnTheWire) {
  UseScript();
  script.Answer("UNLOCK", "OK\n>");
  const Bytes file = FileWithCheck();
  ASSERT_EQ(transfer::Crc16(file.size(), 0, file.data()), kWantedCheck);
  WriteIn(kConversionFileName, file);
  Upload();
  ASSERT_GE(script.lines.size(), 2u);
  EXPECT_EQ(script.lines[0], "UNLOCK");
  EXPECT_EQ(script.lines[1], "UPLOAD 3 0x12c 0x  1f");
}

TEST_F(UploadTest, EmptyFileIsAnnouncedAndStillSent) {
  UseScript();
  WriteIn(kConversionFileName, {});
  Upload();
  ASSERT_GE(script.lines.size(), 2u);
  EXPECT_EQ(script.lines[1], "UPLOAD 3 0x0 0x   0");
  // The silent peer never asks for blocks: the sender ran and gave up.
  ASSERT_EQ(panel.messages.size(), 1u);
  EXPECT_EQ(panel.messages[0].rfind("Error in file transfer -", 0), 0u);
}

TEST_F(UploadTest, FailedTransferShowsBoxThenLocksThenFinishes) {
  UseScript();
  script.Answer("UNLOCK", "OK\n>");
  WriteIn(kConversionFileName, FileWithCheck());
  Upload();
  ASSERT_EQ(panel.messages.size(), 1u);
  EXPECT_EQ(panel.messages[0].rfind("Error in file transfer -", 0), 0u);
  // The sender's cancel sequence runs into the line of the lock.
  ASSERT_FALSE(script.lines.empty());
  EXPECT_TRUE(script.lines.back().ends_with("LOCK"));
  const auto box = panel.TimeOf('M', "Error in file transfer");
  const auto finished = panel.TimeOf('L', "\tFinished.\r\n");
  const std::uint32_t lock = script.lineTimes.back();
  ASSERT_TRUE(box && finished);
  EXPECT_LE(*box, lock);
  EXPECT_LT(lock, *finished);
  EXPECT_EQ(panel.progress, std::vector<int>{0});
  EXPECT_TRUE(panel.log.ends_with("\tFinished.\r\n"));
  EXPECT_EQ(panel.log.find("\tWrite Data to ZEPHOR.\r\n"), 0u);
}

TEST_F(UploadTest, UnlockAnswerIsNotChecked) {
  UseScript();
  WriteIn(kConversionFileName, FileWithCheck());
  Upload();
  EXPECT_EQ(script.lines.front(), "UNLOCK");
  EXPECT_TRUE(script.lines.back().ends_with("LOCK"));
  EXPECT_EQ(script.lines.size(), 3u);
}

TEST_F(UploadTest, TheInstrumentStoresTheFile) {
  sim::InstrumentState state;
  state.memory = {1, 2, 3};
  UseInstrument(state);
  const Bytes file = sim::GenerateDatabase(5, 3000);
  WriteIn(kConversionFileName, file);
  Upload();
  EXPECT_TRUE(panel.messages.empty());
  EXPECT_EQ(instrument->model().state().memory, file);
  EXPECT_FALSE(instrument->model().unlocked());
  EXPECT_EQ(panel.progress, std::vector<int>{0});
}

TEST_F(UploadTest, RefusedBlocksEndInTheErrorBoxAndTheMemoryStays) {
  sim::InstrumentState state;
  state.memory = {1, 2, 3};
  sim::FaultSet faults;
  faults.nakFirstBlocks = 100;
  UseInstrument(state, faults);
  WriteIn(kConversionFileName, sim::GenerateDatabase(5, 1000));
  Upload();
  ASSERT_EQ(panel.messages.size(), 1u);
  EXPECT_EQ(panel.messages[0].rfind("Error in file transfer -", 0), 0u);
  EXPECT_EQ(instrument->model().state().memory, (Bytes{1, 2, 3}));
  EXPECT_EQ(Commands().back(), "LOCK");
}

struct NotConvertedRow {
  const char* name;
  SavedDatabaseOutcome outcome;
};

void PrintTo(const NotConvertedRow& row, std::ostream* out) { *out << row.name; }

class NotConvertedTest : public UploadTest,
                         public ::testing::WithParamInterface<NotConvertedRow> {};

// A file left from an earlier run, or one this run did not finish, never reaches the instrument.
TEST_P(NotConvertedTest, SendsNothingAndSaysWhy) {
  UseScript();
  script.Answer("UNLOCK", "OK\n>");
  WriteIn(kConversionFileName, FileWithCheck());
  Upload(GetParam().outcome);
  EXPECT_TRUE(script.received.empty());
  EXPECT_EQ(line.deviceHeld, false);
  EXPECT_EQ(panel.log, std::string("\tWrite Data to ZEPHOR.\r\n") + kNotConvertedLine);
  EXPECT_TRUE(panel.messages.empty());
  EXPECT_TRUE(panel.exitCodes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, NotConvertedTest,
    ::testing::Values(NotConvertedRow{"NotLoaded", SavedDatabaseOutcome::kNotLoaded},
                      NotConvertedRow{"ReportWritten", SavedDatabaseOutcome::kReportWritten},
                      NotConvertedRow{"ReportFailed", SavedDatabaseOutcome::kReportFailed},
                      NotConvertedRow{"ConversionFailed", SavedDatabaseOutcome::kConversionFailed}),
    [](const ::testing::TestParamInfo<NotConvertedRow>& info) { return info.param.name; });

TEST_F(UploadTest, MissingFileEndsTheProgram) {
  UseScript();
  Upload();
  EXPECT_EQ(panel.messages, std::vector<std::string>{"Can't open file _Conversion.txt"});
  EXPECT_EQ(panel.exitCodes, std::vector<int>{1});
  EXPECT_TRUE(script.received.empty());
}

}  // namespace
}  // namespace zephor::database::testing
