// The walk over the records of a saved database, shared by the report and the conversion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "database/byte_reader.h"
#include "device/operator_panel.h"

namespace zephor::database {

inline constexpr std::size_t kPlainRecordSize = 12;
inline constexpr std::size_t kValueRecordSize = 10;
inline constexpr std::size_t kSurveyHeaderSize = 28;
inline constexpr std::size_t kSurveyTrailerSize = 10;
inline constexpr std::size_t kSurveyStopOffset = 22;
inline constexpr std::size_t kSurveyCountOffset = 26;
inline constexpr std::uint32_t kSurveyNotStopped = 0xFFFFFFFF;
inline constexpr std::uint16_t kCountMask = 0x7FFF;
inline constexpr std::uint16_t kNoMeasurements = 0x7FFF;
inline constexpr std::uint16_t kEndTestBit = 0x8000;

enum class RecordKind { kPlain, kValue, kSurvey };

// How far a header whose count bits say "no measurements" reaches: the report steps over a
// trailer as well, the conversion only over the header.
enum class EmptySurveyStep { kHeaderOnly, kHeaderAndTrailer };

// What a survey not stopped does to the walk: the conversion reads on; for the report it ends the
// data, since the survey was still running when the memory was read and what follows its header
// has no count yet.
enum class RunningSurvey { kReadOn, kEndsTheData };

struct Record {
  RecordKind kind = RecordKind::kPlain;
  std::size_t offset = 0;
  std::size_t size = 0;                 // bytes the walk advances over
  std::size_t measurements = 0;         // survey blocks only; 0 for "no measurements"
  bool noMeasurements = false;          // count bits 0x7FFF
  bool running = false;                 // stop time 0xFFFFFFFF: not stopped
  std::span<const std::uint8_t> bytes;  // exactly size bytes, all inside the buffer
};

enum class WalkEnd { kEndOfData, kTruncated, kStoppedByReader };

// True for the bytes that end the data: 0x1A and 0xC0-0xFF.
bool IsEndOfData(std::uint8_t tag);

// Visits each whole record in order; the visitor returns false to end the walk. A record that
// would run past the buffer, or a buffer without an end-of-data byte, ends the walk at the last
// whole record with kTruncated; nothing beyond the buffer is read. With kEndsTheData a survey not
// stopped is visited as its header alone and ends the walk with kEndOfData.
WalkEnd WalkRecords(std::span<const std::uint8_t> data, EmptySurveyStep emptyStep,
                    const std::function<bool(const Record&)>& visit,
                    RunningSurvey runningSurvey = RunningSurvey::kReadOn);

// Tells the operator that the data ended without its end byte.
void LogTruncation(device::OperatorPanel& panel);

}  // namespace zephor::database
