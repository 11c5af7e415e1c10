// The system report parser: each label found once, its value scanned by the C library's rules.
#include "device/system_info_parser.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace zephor::device {

namespace {

constexpr std::string_view kEquipmentLabel = "ZEPHOR - ";
constexpr std::string_view kIssueLabel = "ISSUE: ";
constexpr std::string_view kCardLabel = "PCB: ";
constexpr std::string_view kMainLabel = "MAIN Version         : V";
constexpr std::string_view kBootLabel = "BOOT Version         : V";
constexpr std::string_view kUpdateLabel = "UPDATE Version       : V";
constexpr std::string_view kBuildLabel = "Build                : ";

constexpr std::size_t kEquipmentWidth = 9;
constexpr std::size_t kIssueWidth = 2;
constexpr std::size_t kCardWidth = 9;
constexpr std::size_t kMainWidth = 4;
// The grade stands three characters after the four of the main version.
constexpr std::size_t kGradeOffset = 7;
constexpr std::size_t kGradeWidth = 2;
constexpr std::size_t kVersionWidth = 3;
constexpr std::size_t kBuildWidth = 3;

// Issue 2 cards print a letter before their eight-digit number.
constexpr std::int32_t kLetteredCardIssue = 2;
constexpr std::size_t kCardLetterWidth = 1;

// Main programs up to 1.13 print the boot and update versions without a decimal point.
constexpr float kLastUndottedMainVersion = 1.13f;
constexpr float kUndottedVersionScale = 10.0f;

constexpr std::size_t kScratchWidth = 10;

// A value copied into ten blanks and closed by a zero byte, ready for sscanf.
struct Scratch {
  char text[kScratchWidth + 1];
};

// The searched part of the report: up to its length and not past a zero byte. All reads of the
// instrument's bytes go through here.
class ReportText {
 public:
  ReportText(const char* text, int length) {
    if (text == nullptr || length <= 0) return;
    std::size_t size = static_cast<std::size_t>(length);
    const void* zero = std::memchr(text, '\0', size);
    if (zero != nullptr) size = static_cast<std::size_t>(static_cast<const char*>(zero) - text);
    text_ = std::string_view(text, size);
  }

  // Copies width characters that start offset characters after the label into the blank scratch
  // field; a value cut short by the end of the text keeps the characters that are there, followed
  // by blanks. False when the label is missing or the value starts past the end.
  bool ValueAfter(std::string_view label, std::size_t offset, std::size_t width,
                  Scratch& scratch) const {
    const std::size_t labelAt = text_.find(label);
    if (labelAt == std::string_view::npos) return false;
    return Copy(labelAt + label.size(), offset, width, scratch);
  }

  bool Copy(std::size_t valueAt, std::size_t offset, std::size_t width, Scratch& scratch) const {
    if (width > kScratchWidth || valueAt > text_.size()) return false;
    const std::size_t left = text_.size() - valueAt;
    if (offset > left) return false;
    std::memset(scratch.text, ' ', kScratchWidth);
    scratch.text[kScratchWidth] = '\0';
    const std::size_t present = std::min(width, left - offset);
    if (present > 0) std::memcpy(scratch.text, text_.data() + valueAt + offset, present);
    return true;
  }

  std::size_t Find(std::string_view label) const { return text_.find(label); }

 private:
  std::string_view text_;
};

void ScanLong(const char* text, std::int32_t& field) {
  long value = 0;
  // Nine characters at most: the value always fits 32 bits.
  if (std::sscanf(text, "%li", &value) == 1) field = static_cast<std::int32_t>(value);
}

void ScanInt(const char* text, std::int32_t& field) {
  int value = 0;
  if (std::sscanf(text, "%i", &value) == 1) field = value;
}

bool ScanFloat(const char* text, float& field) {
  float value = 0.0f;
  if (std::sscanf(text, "%f", &value) != 1) return false;
  field = value;
  return true;
}

void ScanGrade(const char* text, std::string& grade) {
  char value[kGradeWidth + 1] = {};
  if (std::sscanf(text, "%2s", value) == 1) grade = value;
}

void ReadVersion(const ReportText& report, std::string_view label, float mainVersion,
                 float& field) {
  Scratch scratch;
  if (!report.ValueAfter(label, 0, kVersionWidth, scratch)) return;
  if (!ScanFloat(scratch.text, field)) return;
  if (!(mainVersion > kLastUndottedMainVersion)) field /= kUndottedVersionScale;
}

}  // namespace

void ParseSystemInfo(const char* text, int length, DeviceInfo& info) {
  const ReportText report(text, length);
  Scratch scratch;

  if (report.ValueAfter(kEquipmentLabel, 0, kEquipmentWidth, scratch)) {
    ScanLong(scratch.text, info.equipmentNumber);
  }
  if (report.ValueAfter(kIssueLabel, 0, kIssueWidth, scratch)) {
    ScanInt(scratch.text, info.cardIssue);
  }
  if (report.ValueAfter(kCardLabel, 0, kCardWidth, scratch)) {
    const std::size_t skip = info.cardIssue == kLetteredCardIssue ? kCardLetterWidth : 0;
    ScanLong(scratch.text + skip, info.cardNumber);
  }
  const std::size_t mainAt = report.Find(kMainLabel);
  if (mainAt != std::string_view::npos) {
    const std::size_t valueAt = mainAt + kMainLabel.size();
    if (report.Copy(valueAt, 0, kMainWidth, scratch)) ScanFloat(scratch.text, info.mainVersion);
    if (report.Copy(valueAt, kGradeOffset, kGradeWidth, scratch)) {
      ScanGrade(scratch.text, info.grade);
    }
  }
  ReadVersion(report, kBootLabel, info.mainVersion, info.bootVersion);
  ReadVersion(report, kUpdateLabel, info.mainVersion, info.updateVersion);
  if (report.ValueAfter(kBuildLabel, 0, kBuildWidth, scratch)) {
    ScanInt(scratch.text, info.build);
  }
}

}  // namespace zephor::device
