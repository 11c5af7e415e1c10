// Record kinds follow from the top two bits of the tag byte; survey blocks need both tag bytes.
#include "database/record_walk.h"

#include "database/measurement.h"

namespace zephor::database {

namespace {
constexpr std::uint8_t kEndOfDataByte = 0x1A;
constexpr std::uint8_t kEndOfDataFloor = 0xC0;
constexpr std::uint8_t kTagMask = 0xC0;
constexpr std::uint8_t kValueTag = 0x80;
constexpr std::uint8_t kSurveyTag = 0xBF;
constexpr std::uint8_t kSurveyTagAlt = 0x9F;
constexpr std::uint8_t kSurveyMark = 0xF8;

bool IsSurveyStart(const ByteReader& reader, std::size_t position) {
  const std::uint8_t tag = reader.Byte(position);
  return (tag == kSurveyTag || tag == kSurveyTagAlt) && reader.Fits(position, 2) &&
         reader.Byte(position + 1) == kSurveyMark;
}

// Sizes the record at position; false when it does not lie whole inside the buffer.
bool SizeRecord(const ByteReader& reader, std::size_t position, EmptySurveyStep emptyStep,
                RunningSurvey runningSurvey, Record& record) {
  record = Record{};
  record.offset = position;
  const std::uint8_t tag = reader.Byte(position);
  if (IsSurveyStart(reader, position)) {
    if (!reader.Fits(position, kSurveyHeaderSize)) return false;
    record.kind = RecordKind::kSurvey;
    record.running = reader.ReadBE32(position + kSurveyStopOffset) == kSurveyNotStopped;
    const std::uint16_t count = reader.ReadBE16(position + kSurveyCountOffset) & kCountMask;
    if (record.running && runningSurvey == RunningSurvey::kEndsTheData) {
      record.size = kSurveyHeaderSize;
    } else if (count == kNoMeasurements) {
      record.noMeasurements = true;
      record.size = emptyStep == EmptySurveyStep::kHeaderOnly
                        ? kSurveyHeaderSize
                        : kSurveyHeaderSize + kSurveyTrailerSize;
    } else {
      record.measurements = count;
      record.size = kSurveyHeaderSize + kMeasurementSize * count + kSurveyTrailerSize;
    }
  } else if ((tag & kTagMask) == kValueTag) {
    record.kind = RecordKind::kValue;
    record.size = kValueRecordSize;
  } else {
    record.kind = RecordKind::kPlain;
    record.size = kPlainRecordSize;
  }
  if (!reader.Fits(position, record.size)) return false;
  record.bytes = reader.Bytes(position, record.size);
  return true;
}
}  // namespace

bool IsEndOfData(std::uint8_t tag) { return tag == kEndOfDataByte || tag >= kEndOfDataFloor; }

WalkEnd WalkRecords(std::span<const std::uint8_t> data, EmptySurveyStep emptyStep,
                    const std::function<bool(const Record&)>& visit, RunningSurvey runningSurvey) {
  const ByteReader reader(data);
  std::size_t position = 0;
  Record record;
  while (reader.Fits(position, 1)) {
    if (IsEndOfData(reader.Byte(position))) return WalkEnd::kEndOfData;
    if (!SizeRecord(reader, position, emptyStep, runningSurvey, record)) return WalkEnd::kTruncated;
    if (!visit(record)) return WalkEnd::kStoppedByReader;
    if (record.running && runningSurvey == RunningSurvey::kEndsTheData) return WalkEnd::kEndOfData;
    position += record.size;
  }
  return WalkEnd::kTruncated;
}

void LogTruncation(device::OperatorPanel& panel) { panel.AppendLog("\tDataBase truncated.\r\n"); }

}  // namespace zephor::database
