// Each old record is staged in its new layout and written with one write of its exact length.
#include "database/conversion.h"

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "database/byte_reader.h"
#include "database/database_file.h"
#include "database/measurement.h"
#include "database/record_walk.h"

namespace zephor::database {

namespace {
constexpr std::size_t kNewValueRecordSize = 12;
constexpr std::size_t kNewMeasurementSize = 26;
constexpr std::size_t kKeptPrefix = 4;  // tag or hold/type, the bytes up to the value or level
constexpr std::size_t kValueCodeOffset = 3;
constexpr std::size_t kValueOffset = 4;
constexpr std::uint8_t kThousandfoldCode = 21;  // the instrument now keeps this value in units
constexpr std::uint32_t kThousandfold = 1000;

using Bytes = std::span<const std::uint8_t>;

std::uint8_t* Copy(Bytes from, std::uint8_t* to) { return std::copy(from.begin(), from.end(), to); }

std::size_t ConvertedSize(const Record& record) {
  switch (record.kind) {
    case RecordKind::kPlain:
      return kPlainRecordSize;
    case RecordKind::kValue:
      return kNewValueRecordSize;
    case RecordKind::kSurvey:
      break;
  }
  if (record.noMeasurements) return kSurveyHeaderSize;
  return kSurveyHeaderSize + kNewMeasurementSize * record.measurements + kSurveyTrailerSize;
}

void ConvertValue(Bytes old, std::uint8_t* out) {
  const ByteReader reader(old);
  out = Copy(old.first(kKeptPrefix), out);
  std::uint32_t value = reader.ReadBE16(kValueOffset);
  if (reader.Byte(kValueCodeOffset) == kThousandfoldCode) value *= kThousandfold;
  out = Copy(ToBE32(value), out);
  Copy(old.subspan(kValueOffset + 2), out);
}

void ConvertSurvey(const Record& record, std::uint8_t* out) {
  out = Copy(record.bytes.first(kSurveyHeaderSize), out);
  if (record.noMeasurements) return;
  for (std::size_t i = 0; i < record.measurements; ++i) {
    const Bytes old =
        record.bytes.subspan(kSurveyHeaderSize + kMeasurementSize * i, kMeasurementSize);
    out = Copy(old.first(kKeptPrefix), out);
    *out++ = 0x00;  // the level word widens to 32 bits
    *out++ = 0x00;
    out = Copy(old.subspan(kKeptPrefix), out);
  }
  Copy(record.bytes.last(kSurveyTrailerSize), out);
}

// Grows the staging area for a block larger than it; false when no memory is left.
bool Stage(std::vector<std::uint8_t>& staging, std::size_t size) {
  try {
    if (staging.size() < size) staging.resize(size);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}
}  // namespace

WalkEnd WalkConversionRecords(std::span<const std::uint8_t> database,
                              const std::function<bool(const Record&)>& visit) {
  return WalkRecords(database, EmptySurveyStep::kHeaderOnly, visit);
}

bool ConvertDatabase(device::Station& station, std::span<const std::uint8_t> database,
                     const std::filesystem::path& directory) {
  std::vector<std::uint8_t> staging;
  const bool staged = Stage(staging, kStagingAreaSize);
  station.panel->AppendLog("\tConvertion DataBase.\r\n");
  if (!staged) {
    station.panel->ShowMessage(kNoMemoryMessage, device::MessageButtons::kOk);
    return false;
  }
  // Made whole in memory, then put in place at once: a link or a stale file under the name is
  // replaced, never written through, and a reader never finds half a conversion.
  std::string file;
  bool complete = true;
  const WalkEnd end = WalkConversionRecords(database, [&](const Record& record) {
    const std::size_t size = ConvertedSize(record);
    if (!Stage(staging, size)) {
      station.panel->ShowMessage(kNoMemoryMessage, device::MessageButtons::kOk);
      complete = false;
      return false;
    }
    switch (record.kind) {
      case RecordKind::kPlain:
        Copy(record.bytes, staging.data());
        break;
      case RecordKind::kValue:
        ConvertValue(record.bytes, staging.data());
        break;
      case RecordKind::kSurvey:
        ConvertSurvey(record, staging.data());
        break;
    }
    file.append(reinterpret_cast<const char*>(staging.data()), size);
    return complete;
  });
  if (end == WalkEnd::kTruncated) LogTruncation(*station.panel);
  PauseBeforeClose(station);
  return WriteOutputFile(station, directory, kConversionFileName, kConversionFileName, file) &&
         complete;
}

}  // namespace zephor::database
