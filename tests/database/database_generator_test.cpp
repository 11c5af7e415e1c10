// The generated memories: whole, seeded, within their size, and holding every kind of record.
#include "sim/database_generator.h"

#include <gtest/gtest.h>

#include <set>

#include "database/byte_reader.h"
#include "database/record_walk.h"

namespace zephor::database::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint32_t kNotStopped = 0xFFFFFFFF;
constexpr std::size_t kStopOffset = 22;

struct Census {
  std::set<int> plainTags;  // top two bits
  bool kilowattValue = false;
  bool otherValue = false;
  std::set<std::size_t> surveySizes;  // measurement counts
  bool noMeasurementsHeader = false;
  int unstopped = 0;
  WalkEnd end = WalkEnd::kTruncated;
  std::size_t endOffset = 0;
};

Census Count(const Bytes& data, EmptySurveyStep step) {
  Census c;
  std::size_t reached = 0;
  c.end = WalkRecords(data, step, [&](const Record& r) {
    const ByteReader reader(r.bytes);
    if (r.kind == RecordKind::kPlain) c.plainTags.insert(r.bytes[0] >> 6);
    if (r.kind == RecordKind::kValue) (r.bytes[3] == 21 ? c.kilowattValue : c.otherValue) = true;
    if (r.kind == RecordKind::kSurvey) {
      if (r.noMeasurements)
        c.noMeasurementsHeader = true;
      else
        c.surveySizes.insert(r.measurements);
      if (reader.ReadBE32(kStopOffset) == kNotStopped) ++c.unstopped;
    }
    reached = r.offset + r.size;
    return true;
  });
  c.endOffset = reached;
  return c;
}

TEST(DatabaseGenerator, SameSeedSameMemory) {
  EXPECT_EQ(sim::GenerateDatabase(7, 4000), sim::GenerateDatabase(7, 4000));
  EXPECT_NE(sim::GenerateDatabase(7, 4000), sim::GenerateDatabase(8, 4000));
}

TEST(DatabaseGenerator, HoldsEveryKindTheReadersHandle) {
  const Bytes memory = sim::GenerateDatabase(1, 4000);
  const Census c = Count(memory, EmptySurveyStep::kHeaderOnly);
  EXPECT_EQ(c.end, WalkEnd::kEndOfData);
  EXPECT_EQ(c.plainTags, (std::set<int>{0, 1}));
  EXPECT_TRUE(c.kilowattValue);
  EXPECT_TRUE(c.otherValue);
  EXPECT_TRUE(c.noMeasurementsHeader);
  EXPECT_TRUE(c.surveySizes.count(0));
  EXPECT_TRUE(c.surveySizes.count(1));
  EXPECT_TRUE(std::any_of(c.surveySizes.begin(), c.surveySizes.end(),
                          [](std::size_t n) { return n > 1 && n <= 37; }));
  EXPECT_GT(*c.surveySizes.rbegin(), 37u);
  EXPECT_EQ(c.unstopped, 0);
}

// Both readers step over a "no measurements" header their own way and must stay in step.
TEST(DatabaseGenerator, BothWalksEndAtTheLastByte) {
  for (std::uint32_t seed = 1; seed <= 40; ++seed) {
    const Bytes memory = sim::GenerateDatabase(seed, 2000 + 300 * seed);
    for (const auto step : {EmptySurveyStep::kHeaderOnly, EmptySurveyStep::kHeaderAndTrailer}) {
      const Census c = Count(memory, step);
      ASSERT_EQ(c.end, WalkEnd::kEndOfData) << "seed " << seed;
      EXPECT_EQ(c.endOffset, memory.size() - 1) << "seed " << seed;
    }
    EXPECT_TRUE(IsEndOfData(memory.back()));
  }
}

TEST(DatabaseGenerator, LargestWholeDatabaseNotAboveTheSize) {
  for (std::size_t size : {1500u, 2048u, 5000u, 12345u, 65536u}) {
    const Bytes memory = sim::GenerateDatabase(3, size);
    EXPECT_LE(memory.size(), size);
    EXPECT_GE(memory.size() + 8, size) << size;
  }
}

TEST(DatabaseGenerator, TinySizes) {
  EXPECT_TRUE(sim::GenerateDatabase(1, 0).empty());
  EXPECT_EQ(sim::GenerateDatabase(1, 1), Bytes{0xFF});
  EXPECT_EQ(sim::GenerateDatabase(1, 10), Bytes{0xFF});
  for (std::size_t size = 1; size < 200; ++size) {
    const Bytes memory = sim::GenerateDatabase(9, size);
    ASSERT_LE(memory.size(), size);
    EXPECT_EQ(Count(memory, EmptySurveyStep::kHeaderOnly).end, WalkEnd::kEndOfData);
  }
}

TEST(DatabaseGenerator, UnstoppedSurveyComesLast) {
  sim::DatabaseOptions options;
  options.unstoppedSurvey = true;
  const Bytes memory = sim::GenerateDatabase(4, 3000, options);
  EXPECT_LE(memory.size(), 3000u);
  std::size_t lastSurvey = 0;
  std::uint32_t lastStop = 0;
  WalkRecords(memory, EmptySurveyStep::kHeaderOnly, [&](const Record& r) {
    if (r.kind == RecordKind::kSurvey) {
      lastSurvey = r.offset;
      lastStop = ByteReader(r.bytes).ReadBE32(kStopOffset);
    }
    return true;
  });
  EXPECT_EQ(lastStop, kNotStopped);
  EXPECT_EQ(Count(memory, EmptySurveyStep::kHeaderOnly).unstopped, 1);
  EXPECT_GT(lastSurvey, 0u);
}

}  // namespace
}  // namespace zephor::database::testing
