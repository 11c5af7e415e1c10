// Names are built and checked in one place, so that what a run writes is what a later run accepts.
#include "update/folder_names.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <string_view>

namespace zephor::update {
namespace {

constexpr int kEquipmentDigits = 9;
constexpr std::string_view kBackupSuffix = ".bin";
constexpr std::size_t kDateDigits = 8;
constexpr std::size_t kTimeDigits = 6;
constexpr std::size_t kMaxCopyDigits = 2;

bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text) {
    if (std::isdigit(static_cast<unsigned char>(c)) == 0) return false;
  }
  return true;
}

// "20261207T153000Z"
bool IsUtcStamp(std::string_view text) {
  constexpr std::size_t kLength = kDateDigits + 1 + kTimeDigits + 1;
  if (text.size() != kLength) return false;
  return AllDigits(text.substr(0, kDateDigits)) && text[kDateDigits] == 'T' &&
         AllDigits(text.substr(kDateDigits + 1, kTimeDigits)) && text.back() == 'Z';
}

}  // namespace

std::string EquipmentText(std::int32_t equipmentNumber) {
  char number[32] = {};
  std::snprintf(number, sizeof number, "%0*ld", kEquipmentDigits,
                static_cast<long>(equipmentNumber));
  return number;
}

std::filesystem::path JournalPath(const std::filesystem::path& directory,
                                  std::int32_t equipmentNumber) {
  return directory /
         (std::string(kJournalPrefix) + EquipmentText(equipmentNumber) + kJournalSuffix);
}

bool IsJournalName(const std::string& name) {
  const std::string_view prefix = kJournalPrefix;
  const std::string_view suffix = kJournalSuffix;
  return name.size() > prefix.size() + suffix.size() && name.starts_with(prefix) &&
         name.ends_with(suffix);
}

std::optional<std::int32_t> JournalNameNumber(const std::string& name) {
  if (!IsJournalName(name)) return std::nullopt;
  const std::string_view prefix = kJournalPrefix;
  const std::string_view suffix = kJournalSuffix;
  const std::string digits =
      name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  if (digits.size() != static_cast<std::size_t>(kEquipmentDigits) || !AllDigits(digits)) {
    return std::nullopt;
  }
  return static_cast<std::int32_t>(std::stol(digits));
}

std::string UtcStamp(std::int64_t utcSeconds) {
  using namespace std::chrono;
  const sys_seconds at{seconds{utcSeconds}};
  const auto day = floor<days>(at);
  const year_month_day date{day};
  const hh_mm_ss time{at - day};
  char stamp[64] = {};
  std::snprintf(stamp, sizeof stamp, "%04d%02u%02uT%02ld%02ld%02ldZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<long>(time.hours().count()), static_cast<long>(time.minutes().count()),
                static_cast<long>(time.seconds().count()));
  return stamp;
}

std::filesystem::path DatedBackupName(std::int32_t equipmentNumber, std::int64_t utcSeconds) {
  return std::string(kDatedBackupPrefix) + EquipmentText(equipmentNumber) + "-" +
         UtcStamp(utcSeconds) + std::string(kBackupSuffix);
}

std::filesystem::path ClosedJournalName(std::int32_t equipmentNumber, std::int64_t utcSeconds) {
  return std::string(kClosedJournalPrefix) + EquipmentText(equipmentNumber) + "-" +
         UtcStamp(utcSeconds) + kJournalSuffix;
}

bool IsDatedBackupName(const std::string& name, std::int32_t equipmentNumber) {
  const std::string head = std::string(kDatedBackupPrefix) + EquipmentText(equipmentNumber) + "-";
  if (!name.starts_with(head) || !name.ends_with(kBackupSuffix)) return false;
  std::string_view rest(name);
  rest.remove_prefix(head.size());
  rest.remove_suffix(kBackupSuffix.size());
  if (IsUtcStamp(rest)) return true;
  // A second copy in the same second: "...Z.1.bin" to "...Z.99.bin".
  const std::size_t dot = rest.find('.');
  if (dot == std::string_view::npos || !IsUtcStamp(rest.substr(0, dot))) return false;
  const std::string_view copy = rest.substr(dot + 1);
  return copy.size() <= kMaxCopyDigits && AllDigits(copy) && copy.front() != '0';
}

}  // namespace zephor::update
