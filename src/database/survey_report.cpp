// The pieces go into one reused block that is written when full; "\n" only, the micro sign as
// byte 0xB5.
#include "database/survey_report.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <string_view>

#include "database/byte_reader.h"
#include "database/database_file.h"
#include "database/measurement.h"
#include "database/record_walk.h"
#include "database/text12.h"
#include "database/utc_time.h"

namespace zephor::database {

namespace {
constexpr std::uint32_t kFirstBuildWithAColumn = 224;
// The name the message boxes give the report.
constexpr const char* kReportBoxName = "_Quarvel.TXT";
constexpr std::size_t kSurveyFlagsOffset = 6;
constexpr std::uint16_t kStartTestBit = 0x0001;
constexpr std::size_t kImoOffset = 2;
constexpr std::uint32_t kImoMask = 0x00FFFFFF;
constexpr std::size_t kOperatorOffset = 8;
constexpr std::size_t kStartTimeOffset = 18;
constexpr std::size_t kLevelWidth = 5;
constexpr std::size_t kNumberDigitsMax = 24;
constexpr std::size_t kLevelDigitsMax = 320;  // the largest double in fixed notation fits
constexpr std::size_t kLevelTextMax = kLevelWidth + kLevelDigitsMax;
// Large enough that the file sees few writes, small enough to stay in the cache.
constexpr std::size_t kWriteBlockBytes = 256 * 1024;
// A measurement line without its type, time and label: five numbers, the level and the words.
constexpr std::size_t kMeasurementLineFixed = 5 * kNumberDigitsMax + kLevelTextMax + 64;
constexpr double kTenths = 10.0;
constexpr double kHalf = 0.5;
constexpr int kFewestTenths = -999;  // "-99.9": every level of the table is five characters
constexpr int kMostTenths = 9999;    // "999.9"

std::string_view Done(bool done) { return done ? "" : "NOT "; }

// Copies a piece into room already made for it.
char* Copy(char* out, std::string_view piece) {
  std::memcpy(out, piece.data(), piece.size());
  return out + piece.size();
}

// A text whose length the compiler knows, copied without a length test.
template <std::size_t Size>
char* CopyText(char* out, const char (&text)[Size]) {
  std::memcpy(out, text, Size - 1);
  return out + Size - 1;
}

// Needs room for kNumberDigitsMax.
template <typename Number>
char* CopyNumber(char* out, Number value) {
  return std::to_chars(out, out + kNumberDigitsMax, value).ptr;
}

// "%5.1f" without the locale's decimal point into out, which has room for kLevelTextMax.
char* ConvertLevel(char* out, double level) {
  char text[kLevelDigitsMax];
  const auto result = std::to_chars(text, text + sizeof text, level, std::chars_format::fixed, 1);
  const auto length = static_cast<std::size_t>(result.ptr - text);
  const std::size_t pad = length < kLevelWidth ? kLevelWidth - length : 0;
  std::memset(out, ' ', pad);
  std::memcpy(out + pad, text, length);
  return out + pad + length;
}

// Every decoded level is a whole number of tenths divided by ten, so the texts of those numbers
// are made once; any other level goes through the general conversion.
class LevelTexts {
 public:
  LevelTexts() {
    for (int tenths = kFewestTenths; tenths <= kMostTenths; ++tenths) {
      const std::size_t index = Index(tenths);
      values_[index] = tenths / kTenths;
      char text[kLevelTextMax];
      ConvertLevel(text, values_[index]);  // five characters throughout the table's range
      std::memcpy(texts_[index].data(), text, kLevelWidth);
    }
  }

  // Needs room for kLevelTextMax.
  char* Copy(char* out, double level) const {
    const double scaled = level * kTenths;
    if (scaled > kFewestTenths - 1 && scaled < kMostTenths + 1) {
      const int tenths = static_cast<int>(scaled < 0 ? scaled - kHalf : scaled + kHalf);
      if (tenths >= kFewestTenths && tenths <= kMostTenths) {
        const std::size_t index = Index(tenths);
        // -0.0 equals 0.0 but is written with its sign.
        if (values_[index] == level && !(level == 0.0 && std::signbit(level))) {
          std::memcpy(out, texts_[index].data(), kLevelWidth);
          return out + kLevelWidth;
        }
      }
    }
    return ConvertLevel(out, level);
  }

 private:
  static constexpr std::size_t kCount = kMostTenths - kFewestTenths + 1;

  static std::size_t Index(int tenths) { return static_cast<std::size_t>(tenths - kFewestTenths); }

  std::array<double, kCount> values_{};
  std::array<std::array<char, kLevelWidth>, kCount> texts_{};
};

const LevelTexts& Levels() {
  static const LevelTexts levels;
  return levels;
}

// The report gathered in one block that goes to the file whenever it is full, so the file sees
// few large writes and no piece needs a string of its own.
class ReportBuffer {
 public:
  explicit ReportBuffer(std::ostream& file) : file_(file), block_(kWriteBlockBytes, '\0') {}

  // Room for size characters at the end of the block; Commit says where the written ones end.
  char* Reserve(std::size_t size) {
    if (size > block_.size() - used_) {
      Flush();
      if (size > block_.size()) block_.resize(size);
    }
    return block_.data() + used_;
  }
  void Commit(const char* end) { used_ = static_cast<std::size_t>(end - block_.data()); }

  void Put(std::string_view piece) { Commit(Copy(Reserve(piece.size()), piece)); }
  template <typename Number>
  void PutNumber(Number value) {
    Commit(CopyNumber(Reserve(kNumberDigitsMax), value));
  }

  void Flush() {
    file_.write(block_.data(), static_cast<std::streamsize>(used_));
    used_ = 0;
  }

 private:
  std::ostream& file_;
  std::string block_;
  std::size_t used_ = 0;
};

class ReportWriter {
 public:
  ReportWriter(std::ostream& file, const device::DeviceInfo& info)
      : out_(file),
        info_(info),
        aColumn_(static_cast<std::uint32_t>(info.build) >= kFirstBuildWithAColumn) {}

  // Writes the survey section; a survey not stopped has only its start.
  void WriteSurvey(const Record& record) {
    const ByteReader header(record.bytes);
    if (header.ReadBE16(kSurveyFlagsOffset) & kStartTestBit) testDone_ = true;
    out_.Put("Functional test is ");
    out_.Put(Done(testDone_));
    out_.Put("done.\nShip number IMO ");
    out_.PutNumber(header.ReadBE32(kImoOffset) & kImoMask);
    out_.Put(" \nMeasured with equipment QLX NE");
    out_.PutNumber(info_.equipmentNumber);
    out_.Put(".\nOperator: ");
    PutText12(record.bytes.subspan(kOperatorOffset).first<kPackedTextBytes>());
    out_.Put("\nSurvey started on ");
    PutLongTime(header.ReadBE32(kStartTimeOffset));
    out_.Put("\n");
    if (record.running) {
      out_.Put("\n\tSurvey not stopped !!!\n");
      return;
    }
    out_.Put("Survey stopped on  ");
    PutLongTime(header.ReadBE32(kSurveyStopOffset));
    out_.Put("\n");
    testDone_ = (header.ReadBE16(kSurveyCountOffset) & kEndTestBit) != 0;
    if (record.noMeasurements) out_.Put("\n\tThere are no measurements !!!\n");
    for (std::size_t i = 1; i <= record.measurements; ++i) {
      const std::size_t offset = kSurveyHeaderSize + kMeasurementSize * (i - 1);
      WriteMeasurement(i,
                       DecodeMeasurement(record.bytes.subspan(offset).first<kMeasurementSize>()));
      if (i == record.measurements) {
        out_.Put("End survey functional test is ");
        out_.Put(Done(testDone_));
        out_.Put("done.\n");
      }
    }
    out_.Put("\n\n\n\n");
  }

  // Hands what is still gathered to the file.
  void Flush() { out_.Flush(); }

 private:
  void WriteMeasurement(std::size_t index, const Measurement& m) {
    const std::string_view type = m.typeCode != kTypeNone ? TypeText(m.typeCode) : "";
    const std::string_view time = shortTimes_.Text(m.time);
    char* out = out_.Reserve(kMeasurementLineFixed + type.size() + time.size() + m.label.size());
    out = CopyNumber(out, index);
    out = CopyText(out, "  hold");
    out = CopyNumber(out, m.hold);
    out = CopyText(out, "  hatch");
    out = CopyNumber(out, m.hatch);
    *out++ = ' ';
    if (m.typeCode != kTypeNone) {
      out = Copy(out, type);
      *out++ = ' ';
    }
    out = levels_.Copy(out, m.level);
    out = CopyText(out, " dB\xB5V");
    if (aColumn_) {
      out = CopyText(out, " A=");
      out = CopyNumber(out, m.aValue);
    }
    *out++ = '\t';
    out = Copy(out, time);
    *out++ = '\t';
    if (m.sensorSerial != 0) {
      out = CopyText(out, "serial number sensor ");
      out = CopyNumber(out, m.sensorSerial);
    }
    *out++ = '\t';
    out = Copy(out, m.label);
    *out++ = '\n';
    if (m.typeCode == kTypeOhValue) *out++ = '\n';
    out_.Commit(out);
  }

  void PutText12(std::span<const std::uint8_t, kPackedTextBytes> packed) {
    scratch_.clear();
    AppendText12(scratch_, packed);
    out_.Put(scratch_);
  }
  void PutLongTime(std::uint32_t seconds) {
    scratch_.clear();
    AppendLongTimeText(scratch_, seconds);
    out_.Put(scratch_);
  }

  ReportBuffer out_;
  const device::DeviceInfo& info_;
  const bool aColumn_;
  const LevelTexts& levels_ = Levels();
  bool testDone_ = false;
  ShortTimeTexts shortTimes_;
  std::string scratch_;  // the texts of a survey header, one at a time
};
}  // namespace

WalkEnd WalkReportRecords(std::span<const std::uint8_t> database,
                          const std::function<bool(const Record&)>& visit) {
  return WalkRecords(database, EmptySurveyStep::kHeaderAndTrailer, visit,
                     RunningSurvey::kEndsTheData);
}

bool WriteSurveyReport(device::Station& station, std::span<const std::uint8_t> database,
                       const device::DeviceInfo& info, const std::filesystem::path& directory) {
  // Made whole in memory, then put in place at once, never through a link found under the name.
  std::ostringstream file;
  ReportWriter writer(file, info);
  const WalkEnd end = WalkReportRecords(database, [&](const Record& record) {
    if (record.kind == RecordKind::kSurvey) writer.WriteSurvey(record);
    return true;
  });
  writer.Flush();
  if (end == WalkEnd::kTruncated) LogTruncation(*station.panel);
  PauseBeforeClose(station);
  if (!WriteOutputFile(station, directory, kReportFileName, kReportBoxName, file.view())) {
    return false;
  }
  station.panel->ShowMessage("The measurements can be found back in _Quarvel.TXT",
                             device::MessageButtons::kOk);
  return true;
}

}  // namespace zephor::database
