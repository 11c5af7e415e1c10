// "_Conversion.txt" byte for byte against hand-laid records of the new layout.
#include "database/conversion.h"

#include <gtest/gtest.h>

#include "database/database_file.h"
#include "database_fixture.h"

namespace zephor::database {
namespace {

using testing::Bytes;
using testing::Join;

class ConversionTest : public testing::DatabaseTest {
 protected:
  Bytes Convert(const Bytes& database) {
    EXPECT_TRUE(ConvertDatabase(station, database, directory));
    return ReadOut(kConversionFileName);
  }
};

const Bytes kEnd = {0xFF, 0x00, 0x00, 0x00};

TEST_F(ConversionTest, ValueCode21IsMultipliedByAThousand) {
  const Bytes in = {0x80, 0xAA, 0xBB, 0x15, 0x00, 0x02, 0x01, 0x02, 0x03, 0x04};
  const Bytes out = {0x80, 0xAA, 0xBB, 0x15, 0x00, 0x00, 0x07, 0xD0, 0x01, 0x02, 0x03, 0x04};
  EXPECT_EQ(Convert(Join({in, kEnd})), out);
}

TEST_F(ConversionTest, LargestValueCode21StaysUnsigned) {
  const Bytes in = {0xBF, 0x01, 0x02, 0x15, 0xFF, 0xFF, 0x0A, 0x0B, 0x0C, 0x0D};
  const Bytes out = {0xBF, 0x01, 0x02, 0x15, 0x03, 0xE7, 0xFC, 0x18, 0x0A, 0x0B, 0x0C, 0x0D};
  EXPECT_EQ(Convert(Join({in, kEnd})), out);
}

TEST_F(ConversionTest, OtherValueCodesAreWidenedUnchanged) {
  const Bytes in = {0x9F, 0x00, 0x55, 0x14, 0x12, 0x34, 0xA1, 0xA2, 0xA3, 0xA4};
  const Bytes out = {0x9F, 0x00, 0x55, 0x14, 0x00, 0x00, 0x12, 0x34, 0xA1, 0xA2, 0xA3, 0xA4};
  EXPECT_EQ(Convert(Join({in, kEnd})), out);
}

// Header of a survey with two measurements: IMO 0x001234, flags 1, operator "ABC", start 16,
// not stopped, count word with bit 15 set.
const Bytes kHeaderTwo = {0xBF, 0xF8, 0x11, 0x00, 0x12, 0x34, 0x00, 0x01, 0x08, 0x62,
                          0x8C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                          0x00, 0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0x80, 0x02};
const Bytes kOldFirst = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C,
                         0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18};
const Bytes kOldSecond = {0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x2B, 0x2C,
                          0x2D, 0x2E, 0x2F, 0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38};
const Bytes kNewFirst = {0x01, 0x02, 0x03, 0x04, 0x00, 0x00, 0x05, 0x06, 0x07,
                         0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10,
                         0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18};
const Bytes kNewSecond = {0x21, 0x22, 0x23, 0x24, 0x00, 0x00, 0x25, 0x26, 0x27,
                          0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F, 0x30,
                          0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38};
const Bytes kTrailer = {0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9};

TEST_F(ConversionTest, SurveyOfTwoMeasurementsGrowsFrom86To90Bytes) {
  const Bytes in = Join({kHeaderTwo, kOldFirst, kOldSecond, kTrailer});
  ASSERT_EQ(in.size(), 86u);
  const Bytes out = Convert(Join({in, kEnd}));
  ASSERT_EQ(out.size(), 90u);
  EXPECT_EQ(out, Join({kHeaderTwo, kNewFirst, kNewSecond, kTrailer}));
  EXPECT_EQ(out[32], 0x00);
  EXPECT_EQ(out[33], 0x00);
  EXPECT_EQ(out[58], 0x00);
  EXPECT_EQ(out[59], 0x00);
}

const Bytes kHeaderEmpty = {0x9F, 0xF8, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00, 0x00,
                            0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                            0x00, 0x20, 0x00, 0x00, 0x00, 0x30, 0xFF, 0xFF};

TEST_F(ConversionTest, HeaderWithoutMeasurementsIsTwentyEightBytesAndTheWalkGoesOnThere) {
  const Bytes value = {0x81, 0x00, 0x00, 0x15, 0x00, 0x01, 0x00, 0x00, 0x00, 0x09};
  const Bytes newValue = {0x81, 0x00, 0x00, 0x15, 0x00, 0x00, 0x03, 0xE8, 0x00, 0x00, 0x00, 0x09};
  EXPECT_EQ(Convert(Join({kHeaderEmpty, value, kEnd})), Join({kHeaderEmpty, newValue}));
}

TEST_F(ConversionTest, PlainRecordsKeepTheirBytesAndPlaces) {
  const Bytes plain00 = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB};
  const Bytes plain01 = {0x7F, 0xF8, 0x1A, 0xC0, 0xFF, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07};
  const Bytes value = {0xA0, 0x01, 0x02, 0x03, 0xBE, 0xEF, 0x04, 0x05, 0x06, 0x07};
  const Bytes newValue = {0xA0, 0x01, 0x02, 0x03, 0x00, 0x00, 0xBE, 0xEF, 0x04, 0x05, 0x06, 0x07};
  const Bytes in = Join({plain00, value, kHeaderTwo, kOldFirst, kOldSecond, kTrailer, plain01,
                         kHeaderEmpty, plain00, Bytes{0x1A}, plain01});
  const Bytes expected = Join({plain00, newValue, kHeaderTwo, kNewFirst, kNewSecond, kTrailer,
                               plain01, kHeaderEmpty, plain00});
  EXPECT_EQ(Convert(in), expected);
  EXPECT_EQ(panel.log, "\tConvertion DataBase.\r\n");
}

TEST_F(ConversionTest, EndOfDataFirstGivesAnEmptyFile) {
  EXPECT_TRUE(Convert(Bytes{0x1A, 0x00, 0x00}).empty());
  EXPECT_TRUE(Exists(kConversionFileName));
  EXPECT_EQ(panel.log, "\tConvertion DataBase.\r\n");
  EXPECT_EQ(timing.now(), kCloseDelayMs);  // the pause before closing, on virtual time
}

TEST_F(ConversionTest, ReplacesAnEarlierFile) {
  WriteIn(kConversionFileName, Bytes(500, 0x55));
  EXPECT_TRUE(Convert(Bytes{0xC0}).empty());
}

TEST_F(ConversionTest, TruncatedDataEndsAtTheLastWholeRecord) {
  const Bytes plain = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C};
  const Bytes cut = {0x80, 0x00, 0x00, 0x15, 0xFF};
  EXPECT_EQ(Convert(Join({plain, cut})), plain);
  EXPECT_EQ(panel.log, "\tConvertion DataBase.\r\n\tDataBase truncated.\r\n");
}

TEST_F(ConversionTest, SurveyRunningPastTheEndIsNotWritten) {
  const Bytes in = Join({kHeaderTwo, kOldFirst, kOldSecond});  // no trailer, no end byte
  EXPECT_TRUE(Convert(in).empty());
  EXPECT_NE(panel.log.find("\tDataBase truncated.\r\n"), std::string::npos);
}

TEST_F(ConversionTest, SurveyOfMoreThan37MeasurementsIsConvertedWhole) {
  constexpr std::size_t kCount = 40;
  Bytes header = kHeaderEmpty;
  header[26] = 0x00;
  header[27] = kCount;
  Bytes in = header;
  Bytes expected = header;
  for (std::size_t i = 0; i < kCount; ++i) {
    const auto mark = static_cast<std::uint8_t>(i);
    const Bytes old = {0x00, 0x10, mark, 0x00, 0x01, mark, 0, 0, 0, mark, 0, 0,
                       0,    7,    0x08, 0x62, 0x8C, 0,    0, 0, 0, 0,    0, mark};
    in.insert(in.end(), old.begin(), old.end());
    const Bytes widened = {0x00, 0x10, mark, 0x00, 0x00, 0x00, 0x01, mark, 0, 0, 0, mark, 0,
                           0,    0,    7,    0x08, 0x62, 0x8C, 0,    0,    0, 0, 0, 0,    mark};
    expected.insert(expected.end(), widened.begin(), widened.end());
  }
  in.insert(in.end(), kTrailer.begin(), kTrailer.end());
  expected.insert(expected.end(), kTrailer.begin(), kTrailer.end());
  in.insert(in.end(), kEnd.begin(), kEnd.end());

  const Bytes out = Convert(in);
  ASSERT_EQ(out.size(), 38u + 26u * kCount);
  EXPECT_GT(out.size(), kStagingAreaSize);
  EXPECT_EQ(out, expected);
  const Bytes last = {0x00, 0x10, 0x27, 0x00, 0x00, 0x00, 0x01, 0x27, 0, 0, 0, 0x27, 0,
                      0,    0,    7,    0x08, 0x62, 0x8C, 0,    0,    0, 0, 0, 0,    0x27};
  EXPECT_EQ(Bytes(out.end() - 36, out.end() - 10), last);
}

TEST_F(ConversionTest, UnopenableFileIsToldAndTheConversionIsNotComplete) {
  EXPECT_FALSE(ConvertDatabase(station, Bytes{0xFF}, directory / "missing"));
  ASSERT_EQ(panel.messages.size(), 1u);
  EXPECT_EQ(panel.messages[0], "Can't open file _Conversion.txt");
  // The log names why, the box what.
  EXPECT_EQ(panel.log, "\tConvertion DataBase.\r\n\t_Conversion.txt: no such file or folder.\r\n");
}

}  // namespace
}  // namespace zephor::database
