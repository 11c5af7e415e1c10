// The memory is built record by record: first one of each kind the readers must handle, then a
// seeded mix, then small records to fill what is left, then the end-of-data byte.
#include "sim/database_generator.h"

#include <array>
#include <random>
#include <string_view>

namespace zephor::sim {

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kPlainSize = 12;
constexpr std::size_t kValueSize = 10;
constexpr std::size_t kHeaderSize = 28;
constexpr std::size_t kMeasurementSize = 24;
constexpr std::size_t kTrailerSize = 10;
constexpr std::size_t kPackedBytes = 10;
constexpr std::size_t kPackedChars = 12;

constexpr std::uint8_t kSurveyTag = 0xBF;
constexpr std::uint8_t kSurveyTagAlt = 0x9F;
constexpr std::uint8_t kSurveyMark = 0xF8;
constexpr std::uint8_t kValueTagFloor = 0x80;
constexpr std::uint8_t kPlainTagFloorHigh = 0x40;  // tag 01
constexpr std::uint8_t kEndOfDataSub = 0x1A;       // a plain tag that would end the data
// Erased memory reads 0xFF, which ends the data.
constexpr std::uint8_t kEndOfData = 0xFF;
constexpr std::uint8_t kKilowattCode = 21;  // the code the new layout scales by 1000
constexpr std::uint16_t kNoMeasurements = 0x7FFF;
constexpr std::uint16_t kEndTestBit = 0x8000;
constexpr std::uint32_t kNotStopped = 0xFFFFFFFF;

// Surveys between 2004 and 2014, as the instruments in service logged them.
constexpr std::uint32_t kEarliestStart = 1072915200;
constexpr std::uint32_t kStartSpan = 315360000;
constexpr std::uint32_t kImoFloor = 1000000;
constexpr std::uint32_t kImoSpan = 9000000;
constexpr int kHolds = 16;
constexpr int kTypeCodes = 5;
constexpr int kHatches = 12;
constexpr int kAValueSteps = 32;
constexpr int kRawLevels = 2048;
constexpr std::uint32_t kSecondsBetweenMeasurements = 90;
// The largest survey the conversion can stage in one piece holds 37 measurements.
constexpr std::size_t kStagedMeasurements = 37;
constexpr std::size_t kManyMeasurements = 12;
constexpr std::size_t kLargestSurvey = 60;
constexpr std::size_t kUnstoppedMeasurements = 3;

constexpr std::array<std::string_view, 6> kOperators = {"J. SMIT",   "A. KOWALSKI", "M. OLSEN",
                                                        "P. DUBOIS", "K. TANAKA",   "R. SILVA"};
constexpr std::array<std::string_view, 6> kLabels = {"PORT FWD", "STBD AFT", "CENTRE",
                                                     "COAMING",  "H3 CROSS", ""};

class Builder {
 public:
  explicit Builder(std::uint32_t seed) : random_(seed) {}

  std::uint32_t Next() { return static_cast<std::uint32_t>(random_()); }
  std::uint32_t Below(std::uint32_t bound) { return Next() % bound; }
  std::uint8_t Byte() { return static_cast<std::uint8_t>(Next()); }

  Bytes Plain(bool highTag) {
    Bytes record(kPlainSize);
    for (auto& b : record) b = Byte();
    std::uint8_t tag = static_cast<std::uint8_t>(Below(kPlainTagFloorHigh));
    if (tag == kEndOfDataSub) tag = 0;
    record[0] = highTag ? static_cast<std::uint8_t>(tag | kPlainTagFloorHigh) : tag;
    return record;
  }

  Bytes Value(std::uint8_t code) {
    Bytes record(kValueSize);
    for (auto& b : record) b = Byte();
    record[0] = static_cast<std::uint8_t>(kValueTagFloor + Below(0x40));
    // A survey tag followed by its mark would start a survey block instead.
    if (record[1] == kSurveyMark) record[1] = 0;
    record[3] = code;
    return record;
  }
  Bytes AnyValue() {
    return Value(Below(4) == 0 ? kKilowattCode : static_cast<std::uint8_t>(Below(40)));
  }

  // count is the raw count bits; kNoMeasurements gives a header with no measurements.
  Bytes Survey(std::uint16_t count, bool stopped) {
    Bytes block;
    const std::uint32_t start = kEarliestStart + Below(kStartSpan);
    const std::uint32_t imo = kImoFloor + Below(kImoSpan);
    block.push_back(Below(2) == 0 ? kSurveyTag : kSurveyTagAlt);
    block.push_back(kSurveyMark);
    block.push_back(0);
    Put(block, imo, 3);
    Put(block, Below(2), 2);  // bit 0: functional test done at the start
    Pack(block, kOperators[Below(kOperators.size())]);
    Put(block, start, 4);
    const std::size_t n = count == kNoMeasurements ? 0 : count;
    const std::uint32_t stop =
        stopped ? start + kSecondsBetweenMeasurements * static_cast<std::uint32_t>(n + 1)
                : kNotStopped;
    Put(block, stop, 4);
    Put(block, (Below(2) == 0 ? kEndTestBit : 0u) | count, 2);
    for (std::size_t i = 0; i < n; ++i) {
      Measurement(block, start + kSecondsBetweenMeasurements * static_cast<std::uint32_t>(i + 1));
    }
    if (count == kNoMeasurements) {
      // Whether a trailer follows such a header is unsettled between the readers; a value
      // record in its place keeps both walks in step.
      const Bytes value = AnyValue();
      block.insert(block.end(), value.begin(), value.end());
    } else {
      for (std::size_t i = 0; i < kTrailerSize; ++i) block.push_back(Byte());
    }
    return block;
  }

 private:
  static void Put(Bytes& out, std::uint32_t value, int width) {
    for (int i = width - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  }

  // Twelve six-bit characters behind four zero bits, padded with blanks.
  static void Pack(Bytes& out, std::string_view text) {
    std::array<std::uint8_t, kPackedBytes> packed{};
    for (std::size_t k = 0; k < kPackedChars; ++k) {
      const char c = k < text.size() ? text[k] : ' ';
      const unsigned code = static_cast<unsigned>(c - ' ') & 0x3F;
      for (std::size_t b = 0; b < 6; ++b) {
        const std::size_t bit = 4 + 6 * k + b;
        if ((code >> (5 - b)) & 1) packed[bit / 8] |= static_cast<std::uint8_t>(0x80 >> (bit % 8));
      }
    }
    out.insert(out.end(), packed.begin(), packed.end());
  }

  void Measurement(Bytes& out, std::uint32_t time) {
    out.push_back(0);
    out.push_back(static_cast<std::uint8_t>((Below(kHolds) << 4) | Below(kTypeCodes)));
    out.push_back(static_cast<std::uint8_t>(1 + Below(kHatches)));
    out.push_back(0);
    Put(out, (Below(kAValueSteps) << 11) | Below(kRawLevels), 2);
    Put(out, time, 4);
    Put(out, Below(3) == 0 ? 0 : 100000 + Below(900000), 4);
    Pack(out, kLabels[Below(kLabels.size())]);
  }

  std::mt19937 random_;
};

bool Append(Bytes& memory, const Bytes& record, std::size_t room) {
  if (record.size() > room - memory.size()) return false;
  memory.insert(memory.end(), record.begin(), record.end());
  return true;
}

}  // namespace

std::vector<std::uint8_t> GenerateDatabase(std::uint32_t seed, std::size_t size) {
  return GenerateDatabase(seed, size, DatabaseOptions{});
}

std::vector<std::uint8_t> GenerateDatabase(std::uint32_t seed, std::size_t size,
                                           const DatabaseOptions& options) {
  Bytes memory;
  if (size == 0) return memory;
  Builder builder(seed);
  const Bytes unstopped =
      options.unstoppedSurvey ? builder.Survey(kUnstoppedMeasurements, false) : Bytes{};
  // Room for the records, keeping the end-of-data byte and the running survey.
  std::size_t room = size - 1;
  const bool withUnstopped = options.unstoppedSurvey && unstopped.size() <= room;
  if (withUnstopped) room -= unstopped.size();

  const std::vector<Bytes> firsts = {
      builder.Plain(false),
      builder.Value(kKilowattCode),
      builder.Survey(0, true),
      builder.Survey(1, true),
      builder.Plain(true),
      builder.Value(static_cast<std::uint8_t>(builder.Below(kKilowattCode))),
      builder.Survey(kManyMeasurements, true),
      builder.Survey(kNoMeasurements, true),
      builder.Survey(kStagedMeasurements + 1 + builder.Below(kLargestSurvey - kStagedMeasurements),
                     true),
  };
  bool full = false;
  for (const Bytes& record : firsts) {
    if (!Append(memory, record, room)) {
      full = true;
      break;
    }
  }
  while (!full) {
    const std::uint32_t pick = builder.Below(10);
    Bytes record;
    if (pick < 4) {
      const std::uint32_t shape = builder.Below(8);
      const std::uint16_t count =
          shape == 0 ? kNoMeasurements
                     : static_cast<std::uint16_t>(builder.Below(shape < 6 ? 20 : kLargestSurvey));
      record = builder.Survey(count, true);
    } else if (pick < 7) {
      record = builder.AnyValue();
    } else {
      record = builder.Plain(builder.Below(2) == 0);
    }
    full = !Append(memory, record, room);
  }
  // Fill what is left with small records, leaving at most a few bytes unused.
  for (;;) {
    const std::size_t left = room - memory.size();
    if (left < kValueSize) break;
    const bool value = left >= 22 ? builder.Below(2) == 0 : (left >= 20 || left < kPlainSize);
    Append(memory, value ? builder.AnyValue() : builder.Plain(builder.Below(2) == 0), room);
  }
  if (withUnstopped) memory.insert(memory.end(), unstopped.begin(), unstopped.end());
  memory.push_back(kEndOfData);
  return memory;
}

}  // namespace zephor::sim
