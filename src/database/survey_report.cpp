// Each piece is written as soon as it is formatted; "\n" only, the micro sign as byte 0xB5.
#include "database/survey_report.h"

#include <charconv>
#include <fstream>
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
constexpr std::size_t kSurveyFlagsOffset = 6;
constexpr std::uint16_t kStartTestBit = 0x0001;
constexpr std::size_t kImoOffset = 2;
constexpr std::uint32_t kImoMask = 0x00FFFFFF;
constexpr std::size_t kOperatorOffset = 8;
constexpr std::size_t kStartTimeOffset = 18;
constexpr std::size_t kStopTimeOffset = 22;
constexpr std::uint32_t kNotStopped = 0xFFFFFFFF;
constexpr int kLevelWidth = 5;
constexpr std::string_view kDbMicroVolt = "dB\xB5V";

std::string Done(bool done) { return done ? "" : "NOT "; }

// "%5.1f" without the locale's decimal point.
std::string LevelText(double level) {
  char digits[32];
  const auto result =
      std::to_chars(digits, digits + sizeof digits, level, std::chars_format::fixed, 1);
  std::string text(digits, result.ptr);
  if (text.size() < kLevelWidth) text.insert(0, kLevelWidth - text.size(), ' ');
  return text;
}

class ReportWriter {
 public:
  ReportWriter(std::ofstream& file, const device::DeviceInfo& info)
      : file_(file),
        info_(info),
        aColumn_(static_cast<std::uint32_t>(info.build) >= kFirstBuildWithAColumn) {}

  // Writes the survey section; false when the survey was not stopped and the walk must end.
  bool WriteSurvey(const Record& record) {
    const ByteReader header(record.bytes);
    if (header.ReadBE16(kSurveyFlagsOffset) & kStartTestBit) testDone_ = true;
    Put("Functional test is " + Done(testDone_) + "done.\n");
    Put("Ship number IMO " + std::to_string(header.ReadBE32(kImoOffset) & kImoMask) +
        " \nMeasured with equipment QLX NE" + std::to_string(info_.equipmentNumber) + ".\n");
    Put("Operator: " +
        UnpackText12(record.bytes.subspan(kOperatorOffset).first<kPackedTextBytes>()) + "\n");
    Put("Survey started on " + LongTimeText(header.ReadBE32(kStartTimeOffset)) + "\n");
    const std::uint32_t stop = header.ReadBE32(kStopTimeOffset);
    if (stop == kNotStopped) {
      Put("\n\tSurvey not stopped !!!\n");
      return false;
    }
    Put("Survey stopped on  " + LongTimeText(stop) + "\n");
    testDone_ = (header.ReadBE16(kSurveyCountOffset) & kEndTestBit) != 0;
    if (record.noMeasurements) Put("\n\tThere are no measurements !!!\n");
    for (std::size_t i = 1; i <= record.measurements; ++i) {
      const std::size_t offset = kSurveyHeaderSize + kMeasurementSize * (i - 1);
      WriteMeasurement(i,
                       DecodeMeasurement(record.bytes.subspan(offset).first<kMeasurementSize>()));
      if (i == record.measurements) {
        Put("End survey functional test is " + Done(testDone_) + "done.\n");
      }
    }
    Put("\n\n\n\n");
    return true;
  }

 private:
  void WriteMeasurement(std::size_t index, const Measurement& m) {
    std::string first = std::to_string(index) + "  hold" + std::to_string(m.hold) + "  hatch" +
                        std::to_string(m.hatch) + " ";
    if (m.typeCode != kTypeNone) first += std::string(TypeText(m.typeCode)) + " ";
    Put(first);
    const std::string sensor =
        m.sensorSerial != 0 ? "serial number sensor " + std::to_string(m.sensorSerial) : "";
    std::string second = LevelText(m.level) + " " + std::string(kDbMicroVolt);
    if (aColumn_) second += " A=" + std::to_string(m.aValue);
    second += "\t" + ShortTimeText(m.time) + "\t" + sensor + "\t" + m.label + "\n";
    if (m.typeCode == kTypeOhValue) second += "\n";
    Put(second);
  }

  void Put(const std::string& piece) {
    file_.write(piece.data(), static_cast<std::streamsize>(piece.size()));
  }

  std::ofstream& file_;
  const device::DeviceInfo& info_;
  const bool aColumn_;
  bool testDone_ = false;
};
}  // namespace

bool WriteSurveyReport(device::Station& station, std::span<const std::uint8_t> database,
                       const device::DeviceInfo& info, const std::filesystem::path& directory) {
  std::ofstream file(directory / kReportFileName, std::ios::binary | std::ios::trunc);
  if (!file) {
    station.panel->ShowMessage("Can't open file _Quarvel.TXT", device::MessageButtons::kOk);
    return false;
  }
  ReportWriter writer(file, info);
  const WalkEnd end =
      WalkRecords(database, EmptySurveyStep::kHeaderAndTrailer, [&](const Record& record) {
        return record.kind != RecordKind::kSurvey || writer.WriteSurvey(record);
      });
  if (end == WalkEnd::kTruncated) LogTruncation(*station.panel);
  station.panel->ShowMessage("The measurements can be found back in _Quarvel.TXT",
                             device::MessageButtons::kOk);
  PauseBeforeClose(station);
  file.close();
  return !file.fail();
}

}  // namespace zephor::database
