// Header bytes against values worked out here, and the refusal of images too long for the header.
#include "update/image_header.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "recording_panel.h"
#include "temp_dir.h"

namespace zephor::update {
namespace {

// CRC-16/XMODEM one bit at a time, independent of the table-driven code.
std::uint16_t HeaderBitwiseCrc(const std::vector<std::uint8_t>& bytes) {
  std::uint16_t crc = 0;
  for (std::uint8_t byte : bytes) {
    crc = static_cast<std::uint16_t>(crc ^ (byte << 8));
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x8000) ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021)
                           : static_cast<std::uint16_t>(crc << 1);
    }
  }
  return crc;
}

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// The frame without its CRC, then the CRC over all but the leading 0x01.
std::vector<std::uint8_t> WithCrc(std::vector<std::uint8_t> frame) {
  const std::vector<std::uint8_t> covered(frame.begin() + 1, frame.end());
  const std::uint16_t crc = HeaderBitwiseCrc(covered);
  frame.push_back(static_cast<std::uint8_t>(crc >> 8));
  frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  return frame;
}

TEST(ImageHeaderTest, BitwiseCrcOfTheTestMatchesTheKnownCheckValue) {
  EXPECT_EQ(HeaderBitwiseCrc(Bytes("123456789")), 0x31C3);
}

TEST(ImageHeaderTest, LongHeaderOfBootImage) {
  const auto header = BuildLongImageHeader(1000, 4660, kBootImageCode);
  const auto expected = WithCrc({0x01, 0x02, '0', '0', '0', '0',  '1', '0', '0', '0', 0x1F,
                                 '0',  '4',  '6', '6', '0', 0x1F, '0', '3', '2', 0x03});
  ASSERT_EQ(expected.size(), kLongHeaderSize);
  EXPECT_EQ(std::vector<std::uint8_t>(header.begin(), header.end()), expected);
}

TEST(ImageHeaderTest, LongHeaderOfUpdateImageCarriesCode012) {
  const auto header = BuildLongImageHeader(12345678, 65535, kUpdateImageCode);
  const auto expected = WithCrc({0x01, 0x02, '1', '2', '3', '4',  '5', '6', '7', '8', 0x1F,
                                 '6',  '5',  '5', '3', '5', 0x1F, '0', '1', '2', 0x03});
  EXPECT_EQ(std::vector<std::uint8_t>(header.begin(), header.end()), expected);
}

TEST(ImageHeaderTest, ShortHeaderOfEmptyImage) {
  const auto header = BuildShortImageHeader(0, 0);
  const auto expected = WithCrc(
      {0x01, 0x02, '0', '0', '0', '0', '0', '0', '0', '0', 0x1F, '0', '0', '0', '0', '0', 0x03});
  ASSERT_EQ(expected.size(), kShortHeaderSize);
  EXPECT_EQ(std::vector<std::uint8_t>(header.begin(), header.end()), expected);
}

TEST(ImageHeaderTest, ShortHeaderWithByteSum) {
  const auto header = BuildShortImageHeader(256000, 10964);
  const auto expected = WithCrc(
      {0x01, 0x02, '0', '0', '2', '5', '6', '0', '0', '0', 0x1F, '1', '0', '9', '6', '4', 0x03});
  EXPECT_EQ(std::vector<std::uint8_t>(header.begin(), header.end()), expected);
}

TEST(ImageHeaderTest, ByteSumWrapsAtSixtyFiveThousandFiveHundredThirtySix) {
  // 300 bytes of 255 add up to 76,500, which is 10,964 after the wrap.
  const std::vector<std::uint8_t> image(300, 0xFF);
  EXPECT_EQ(ImageByteSum(image.data(), image.size()), 10964);
  const std::vector<std::uint8_t> small = {1, 2, 3, 250};
  EXPECT_EQ(ImageByteSum(small.data(), small.size()), 256);
}

TEST(ImageLengthTest, HundredMillionBytesAreRefusedNamingTheFile) {
  TempDir dir;
  const auto path = dir.path() / "main.bin";
  dir.Write("main.bin", {});
  std::filesystem::resize_file(path, kImageLengthLimit);
  RecordingPanel panel;
  EXPECT_FALSE(CheckImageLength(panel, "main.bin", std::filesystem::file_size(path)));
  ASSERT_EQ(panel.messages.size(), 1u);
  EXPECT_NE(panel.messages[0].find("main.bin"), std::string::npos);
  EXPECT_TRUE(panel.exitCodes.empty());
}

TEST(ImageLengthTest, LengthThatFitsEightDigitsPasses) {
  TempDir dir;
  const auto path = dir.path() / "boot.bin";
  dir.Write("boot.bin", {});
  std::filesystem::resize_file(path, kImageLengthLimit - 1);
  RecordingPanel panel;
  EXPECT_TRUE(CheckImageLength(panel, "boot.bin", std::filesystem::file_size(path)));
  EXPECT_TRUE(panel.messages.empty());
}

}  // namespace
}  // namespace zephor::update
