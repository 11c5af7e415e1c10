// The uploads against a scripted loader on a memory line: letters, headers, the file, failures.
#include "update/image_upload.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "independent_checks.h"
#include "recording_panel.h"
#include "scripted_loader.h"
#include "serial/memory_line.h"
#include "serial/serial_port.h"
#include "temp_dir.h"

namespace zephor::update {
namespace {

using script::kAck;
using script::kNak;
using script::Loader;

using script::BitwiseCrc;
using script::FiveDigits;

std::vector<std::uint8_t> Pattern(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>((i * 7 + 3) & 0xFF);
  return bytes;
}

std::string Text(const std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t n) {
  return std::string(bytes.begin() + static_cast<long>(from),
                     bytes.begin() + static_cast<long>(from + n));
}

class ImageUploadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    factory.AddLine(0, &line);
    timing.Attach(&line, [this](std::uint32_t now, serial::MemoryLine& l) {
      ++peerSteps;
      loader.Step(now, l);
    });
    station.ports = {&factory, &timing};
    station.panel = &panel;
  }
  void TearDown() override { EXPECT_EQ(serial::OpenPortCount(), 0); }

  TempDir dir;
  serial::MemoryLine line;
  serial::MemoryPortFactory factory;
  serial::VirtualTiming timing;
  RecordingPanel panel;
  device::Station station;
  Loader loader;
  int peerSteps = 0;
};

// The loader repeats its letter while a question keeps the port closed: the copies waiting on the
// line when the upload begins are no answer to its header.
TEST_F(ImageUploadTest, LettersThatPiledUpAreNoAnswerToTheHeader) {
  const auto image = Pattern(300);
  dir.Write("boot.bin", image);
  line.PeerSend({'B', 'B', 'B'});
  timing.Advance(50);  // they are on the line before the port opens
  EXPECT_TRUE(UploadBoot(station, 0, dir.path()));
  EXPECT_TRUE(panel.messages.empty()) << panel.messages.front();
  ASSERT_GE(loader.data.size(), image.size());
}

TEST_F(ImageUploadTest, BootIsAnnouncedWithLongHeaderAndSent) {
  const auto image = Pattern(300);
  dir.Write("boot.bin", image);

  EXPECT_TRUE(UploadBoot(station, 0, dir.path()));
  EXPECT_TRUE(panel.messages.empty());
  ASSERT_EQ(loader.header.size(), 23u);
  EXPECT_EQ(loader.header[0], 0x01);
  EXPECT_EQ(loader.header[1], 0x02);
  EXPECT_EQ(Text(loader.header, 2, 8), "00000300");
  EXPECT_EQ(Text(loader.header, 11, 5), FiveDigits(BitwiseCrc(image)));
  EXPECT_EQ(Text(loader.header, 17, 3), "032");
  EXPECT_EQ(loader.header[20], 0x03);
  ASSERT_GE(loader.data.size(), image.size());
  EXPECT_EQ(std::vector<std::uint8_t>(loader.data.begin(), loader.data.begin() + 300), image);
  // Three blocks, the last one short: the bar follows them, then goes back to 0.
  EXPECT_EQ(panel.rangeHigh, 2);
  EXPECT_EQ(panel.progress, (std::vector<int>{0, 1, 2, 3, 0}));
}

TEST_F(ImageUploadTest, UpdateHeaderCarriesCode012) {
  dir.Write("Update.BIN", Pattern(200));
  loader.letter = 'U';
  EXPECT_TRUE(UploadUpdate(station, 0, dir.path()));
  ASSERT_EQ(loader.header.size(), 23u);
  EXPECT_EQ(Text(loader.header, 17, 3), "012");
}

TEST_F(ImageUploadTest, HeaderAnsweredWithNakShowsThatCharacter) {
  dir.Write("boot.bin", Pattern(200));
  loader.headerReply = kNak;
  EXPECT_FALSE(UploadBoot(station, 0, dir.path()));
  EXPECT_EQ(panel.messages,
            std::vector<std::string>{"Update stopped !!!  no response ZEPHOR \x15\n"});
  EXPECT_TRUE(loader.data.empty());
}

TEST_F(ImageUploadTest, WrongLetterStopsTheLoadAtOnce) {
  dir.Write("boot.bin", Pattern(200));
  loader.letter = 'S';
  EXPECT_FALSE(UploadBoot(station, 0, dir.path()));
  EXPECT_EQ(panel.messages, std::vector<std::string>{"Update stopped !!!  no response ZEPHOR \n"});
  EXPECT_LT(timing.now(), 100u);
  EXPECT_TRUE(loader.header.empty());
}

TEST_F(ImageUploadTest, MainSendsTheBannerAndSetsTheProgressRange) {
  const auto image = Pattern(256000);
  dir.Write("main.bin", image);
  unsigned sum = 0;
  for (std::uint8_t byte : image) sum = (sum + byte) % 65536;
  loader.bannerSize = 37;
  loader.letter = 'S';
  loader.headerSize = 19;
  EXPECT_TRUE(UploadMain(station, 0, dir.path()));
  EXPECT_EQ(std::string(loader.banner.begin(), loader.banner.end()),
            ".QLX International Update Sequence...");
  EXPECT_EQ(panel.rangeLow, 1);
  EXPECT_EQ(panel.rangeHigh, 2000);
  ASSERT_EQ(loader.header.size(), 19u);
  EXPECT_EQ(Text(loader.header, 2, 8), "00256000");
  EXPECT_EQ(Text(loader.header, 11, 5), FiveDigits(sum));
  EXPECT_EQ(loader.header[16], 0x03);
  EXPECT_EQ(loader.data.size(), 256000u);
}

TEST_F(ImageUploadTest, SpecialMainSucceedsOnTheConversionLine) {
  dir.Write("main1p29.bin", Pattern(128));
  loader.bannerSize = 37;
  loader.letter = 'S';
  loader.headerSize = 19;
  loader.afterEot = "end dBase convertion\r\n";
  EXPECT_TRUE(UploadSpecialMain(station, 0, dir.path()));
  EXPECT_TRUE(panel.messages.empty());
  // Nothing acknowledged, the one block acknowledged, then the bar back to 0.
  EXPECT_EQ(panel.progress, (std::vector<int>{0, 1, 0}));
}

TEST_F(ImageUploadTest, MainMovesTheBarToEachAcknowledgedBlock) {
  dir.Write("main.bin", Pattern(5 * 128 + 40));  // five whole blocks and a short sixth
  loader.bannerSize = 37;
  loader.letter = 'S';
  loader.headerSize = 19;
  // Each position must equal the blocks the loader has taken when it is shown.
  std::vector<std::size_t> blocksAtPosition;
  panel.onProgress = [&](int) { blocksAtPosition.push_back(loader.data.size() / 128); };
  EXPECT_TRUE(UploadMain(station, 0, dir.path()));
  EXPECT_EQ(panel.rangeHigh, 5);
  EXPECT_EQ(panel.progress, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 0}));
  ASSERT_EQ(blocksAtPosition.size(), panel.progress.size());
  for (std::size_t i = 0; i + 1 < panel.progress.size(); ++i)
    EXPECT_EQ(blocksAtPosition[i], static_cast<std::size_t>(panel.progress[i])) << "at " << i;
}

TEST_F(ImageUploadTest, NewBootOfWholeBlocksEndsAtItsLastBlock) {
  dir.Write("newboot.bin", Pattern(3 * 128));
  loader.bannerSize = 37;
  loader.letter = 'S';
  loader.headerSize = 19;
  EXPECT_TRUE(UploadNewBoot(station, 0, dir.path()));
  EXPECT_EQ(panel.progress, (std::vector<int>{0, 1, 2, 3, 0}));
}

TEST_F(ImageUploadTest, UpdateLoadMovesTheBarToEachAcknowledgedBlock) {
  dir.Write("update.bin", Pattern(4 * 128));
  loader.letter = 'U';
  EXPECT_TRUE(UploadUpdate(station, 0, dir.path()));
  EXPECT_EQ(loader.data.size(), 4u * 128);
  EXPECT_EQ(panel.rangeHigh, 4);
  EXPECT_EQ(panel.progress, (std::vector<int>{0, 1, 2, 3, 4, 0}));
}

TEST_F(ImageUploadTest, SpecialMainWithoutConversionLineFailsWithTwoMessages) {
  dir.Write("main1p29.bin", Pattern(128));
  loader.bannerSize = 37;
  loader.letter = 'S';
  loader.headerSize = 19;
  EXPECT_FALSE(UploadSpecialMain(station, 0, dir.path()));
  EXPECT_EQ(panel.messages, (std::vector<std::string>{"", "end dBase convertion"}));
}

TEST_F(ImageUploadTest, FailedTransferStopsTheUploadAfterItsMessage) {
  dir.Write("newboot.bin", Pattern(256));
  loader.bannerSize = 37;
  loader.letter = 'S';
  loader.headerSize = 19;
  loader.receive = false;  // the loader never asks for the first block
  EXPECT_FALSE(UploadNewBoot(station, 0, dir.path()));
  ASSERT_EQ(panel.messages.size(), 1u);
  EXPECT_EQ(panel.messages[0].rfind("Error in file transfer -6", 0), 0u) << panel.messages[0];
  EXPECT_TRUE(panel.progress.empty());
}

TEST_F(ImageUploadTest, ImageTooLongForTheHeaderIsRefusedBeforeThePortOpens) {
  dir.Write("main.bin", {});
  std::filesystem::resize_file(dir.path() / "main.bin", 100000000);
  EXPECT_FALSE(UploadMain(station, 0, dir.path()));
  ASSERT_EQ(panel.messages.size(), 1u);
  EXPECT_NE(panel.messages[0].find("main.bin"), std::string::npos);
  EXPECT_EQ(peerSteps, 0);
  EXPECT_TRUE(line.txQueue.empty());
  EXPECT_TRUE(line.toPeer.empty());
  EXPECT_TRUE(panel.exitCodes.empty());
}

TEST_F(ImageUploadTest, MissingImageEndsTheProgram) {
  EXPECT_FALSE(UploadUpdate(station, 0, dir.path()));
  EXPECT_EQ(panel.messages, std::vector<std::string>{"Can't open file update.bin"});
  EXPECT_EQ(panel.exitCodes, std::vector<int>{1});
  EXPECT_EQ(peerSteps, 0);
}

TEST_F(ImageUploadTest, PortThatCannotOpenEndsAtTheFirstWait) {
  dir.Write("main.bin", Pattern(200));
  EXPECT_FALSE(UploadMain(station, 3, dir.path()));
  EXPECT_EQ(panel.messages, std::vector<std::string>{"Update stopped !!!  no response ZEPHOR\n"});
}

}  // namespace
}  // namespace zephor::update
