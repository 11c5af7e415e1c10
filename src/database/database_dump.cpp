// Surveys are decoded one at a time from the walk; each output format writes what it is given.
#include "database/database_dump.h"

#include <cstdio>
#include <string>
#include <string_view>

#include "database/byte_reader.h"
#include "database/measurement.h"
#include "database/text12.h"
#include "database/utc_time.h"

namespace zephor::database {

namespace {

constexpr std::size_t kImoOffset = 2;
constexpr std::uint32_t kImoMask = 0x00FFFFFF;
constexpr std::size_t kFlagsOffset = 6;
constexpr std::size_t kOperatorOffset = 8;
constexpr std::size_t kStartOffset = 18;
constexpr std::size_t kStopOffset = 22;
constexpr std::uint16_t kStartTestBit = 0x0001;
constexpr std::uint32_t kNotStopped = 0xFFFFFFFF;

struct Survey {
  std::size_t number = 0;  // 1-based
  std::size_t offset = 0;
  std::uint32_t imo = 0;
  std::string operatorName;
  std::uint32_t start = 0;
  std::uint32_t stop = 0;
  bool startTest = false;
  bool endTest = false;
  bool noMeasurements = false;
  std::size_t count = 0;
};

Survey DecodeSurvey(const Record& record, std::size_t number) {
  const ByteReader reader(record.bytes);
  Survey s;
  s.number = number;
  s.offset = record.offset;
  s.imo = reader.ReadBE32(kImoOffset) & kImoMask;
  s.operatorName = UnpackText12(record.bytes.subspan<kOperatorOffset, kPackedTextBytes>());
  s.start = reader.ReadBE32(kStartOffset);
  s.stop = reader.ReadBE32(kStopOffset);
  s.startTest = (reader.ReadBE16(kFlagsOffset) & kStartTestBit) != 0;
  s.endTest = (reader.ReadBE16(kSurveyCountOffset) & kEndTestBit) != 0;
  s.noMeasurements = record.noMeasurements;
  s.count = record.measurements;
  return s;
}

Measurement MeasurementOf(const Record& record, std::size_t i) {
  const auto bytes = record.bytes.subspan(kSurveyHeaderSize + kMeasurementSize * i);
  return DecodeMeasurement(bytes.first<kMeasurementSize>());
}

std::string Level(double level) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", level);
  return text;
}

std::string_view TypeName(int typeCode) {
  std::string_view text = TypeText(typeCode);
  const auto last = text.find_last_not_of(' ');
  return last == std::string_view::npos ? std::string_view{} : text.substr(0, last + 1);
}

std::string JsonText(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') quoted += '\\';
    if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
      quoted += escaped;
      continue;
    }
    quoted += c;
  }
  return quoted + "\"";
}

std::string CsvText(std::string_view text) {
  if (text.find_first_of(",\"\n") == std::string_view::npos) return std::string(text);
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

const char* EndName(WalkEnd end) {
  return end == WalkEnd::kEndOfData ? "end-of-data" : "truncated";
}

void TextSurvey(const Survey& s, std::ostream& out) {
  out << "Survey " << s.number << " at byte " << s.offset << ": IMO " << s.imo << ", operator \""
      << s.operatorName << "\"\n";
  out << "  started " << LongTimeText(s.start) << ", ";
  if (s.stop == kNotStopped) {
    out << "not stopped";
  } else {
    out << "stopped " << LongTimeText(s.stop);
  }
  out << "\n  functional test at start " << (s.startTest ? "done" : "NOT done") << ", at end "
      << (s.endTest ? "done" : "NOT done") << "\n";
  if (s.noMeasurements) {
    out << "  no measurements\n";
  } else {
    out << "  " << s.count << " measurement" << (s.count == 1 ? "" : "s") << "\n";
  }
}

void TextMeasurement(std::size_t i, const Measurement& m, std::ostream& out) {
  out << "  " << i << " hold " << int{m.hold} << " hatch " << int{m.hatch} << " type "
      << m.typeCode;
  if (!TypeName(m.typeCode).empty()) out << " (" << TypeName(m.typeCode) << ")";
  out << " level " << Level(m.level) << " dBuV A=" << m.aValue << " time " << LongTimeText(m.time)
      << " sensor " << m.sensorSerial << " label \"" << m.label << "\"\n";
}

void JsonSurveyOpen(const Survey& s, bool first, std::ostream& out) {
  out << (first ? "\n" : ",\n") << "  {\"number\": " << s.number << ", \"offset\": " << s.offset
      << ", \"imo\": " << s.imo << ", \"operator\": " << JsonText(s.operatorName)
      << ", \"start\": " << s.start << ", \"startText\": " << JsonText(LongTimeText(s.start))
      << ", \"stop\": " << s.stop << ", \"stopped\": " << (s.stop != kNotStopped ? "true" : "false")
      << ", \"functionalTestStart\": " << (s.startTest ? "true" : "false")
      << ", \"functionalTestEnd\": " << (s.endTest ? "true" : "false")
      << ", \"noMeasurements\": " << (s.noMeasurements ? "true" : "false")
      << ", \"measurements\": [";
}

void JsonMeasurement(std::size_t i, const Measurement& m, std::ostream& out) {
  out << (i == 1 ? "\n" : ",\n") << "    {\"index\": " << i << ", \"hold\": " << int{m.hold}
      << ", \"hatch\": " << int{m.hatch} << ", \"type\": " << m.typeCode
      << ", \"typeText\": " << JsonText(TypeName(m.typeCode)) << ", \"level\": " << Level(m.level)
      << ", \"aValue\": " << m.aValue << ", \"time\": " << m.time
      << ", \"timeText\": " << JsonText(LongTimeText(m.time))
      << ", \"sensorSerial\": " << m.sensorSerial << ", \"label\": " << JsonText(m.label) << "}";
}

void CsvRow(const Survey& s, const Measurement* m, std::size_t i, std::ostream& out) {
  out << s.number << ',' << s.offset << ',' << s.imo << ',' << CsvText(s.operatorName) << ','
      << LongTimeText(s.start) << ',' << (s.stop == kNotStopped ? "" : LongTimeText(s.stop)) << ','
      << (s.startTest ? 1 : 0) << ',' << (s.endTest ? 1 : 0);
  if (m == nullptr) {
    out << ",,,,,,,,,,\n";
    return;
  }
  out << ',' << i << ',' << int{m->hold} << ',' << int{m->hatch} << ',' << m->typeCode << ','
      << CsvText(TypeName(m->typeCode)) << ',' << Level(m->level) << ',' << m->aValue << ','
      << LongTimeText(m->time) << ',' << m->sensorSerial << ',' << CsvText(m->label) << '\n';
}

constexpr const char* kCsvHeader =
    "survey,offset,imo,operator,start,stop,test_start,test_end,measurement,hold,hatch,type,"
    "type_text,level_dbuv,a_value,time,sensor_serial,label\n";

}  // namespace

WalkEnd DumpDatabase(std::span<const std::uint8_t> database, DumpFormat format, std::ostream& out) {
  std::size_t surveys = 0;
  if (format == DumpFormat::kJson) out << "{\"surveys\": [";
  if (format == DumpFormat::kCsv) out << kCsvHeader;
  const WalkEnd end =
      WalkRecords(database, EmptySurveyStep::kHeaderOnly, [&](const Record& record) {
        if (record.kind != RecordKind::kSurvey) return true;
        const Survey s = DecodeSurvey(record, ++surveys);
        if (format == DumpFormat::kText) TextSurvey(s, out);
        if (format == DumpFormat::kJson) JsonSurveyOpen(s, surveys == 1, out);
        if (format == DumpFormat::kCsv && s.count == 0) CsvRow(s, nullptr, 0, out);
        for (std::size_t i = 0; i < s.count; ++i) {
          const Measurement m = MeasurementOf(record, i);
          if (format == DumpFormat::kText) TextMeasurement(i + 1, m, out);
          if (format == DumpFormat::kJson) JsonMeasurement(i + 1, m, out);
          if (format == DumpFormat::kCsv) CsvRow(s, &m, i + 1, out);
        }
        if (format == DumpFormat::kJson) out << (s.count == 0 ? "]}" : "\n  ]}");
        return true;
      });
  if (format == DumpFormat::kText) {
    out << surveys << " survey" << (surveys == 1 ? "" : "s");
    out << (end == WalkEnd::kEndOfData ? ", up to the end-of-data byte\n"
                                       : ", data ends without its end-of-data byte\n");
  }
  if (format == DumpFormat::kJson) {
    out << (surveys == 0 ? "]" : "\n]") << ", \"end\": " << JsonText(EndName(end)) << "}\n";
  }
  return end;
}

}  // namespace zephor::database
