// The run journal as JSON; every rewrite goes through a temporary file and a rename.
#include "update/run_journal.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <system_error>
#include <vector>

#include "transfer/crc16.h"

namespace zephor::update {
namespace {

using nlohmann::json;

constexpr const char* kTemporarySuffix = ".tmp";
constexpr const char* kNothingLoaded = "its start";
constexpr int kFormatVersion = 1;
constexpr std::size_t kEquipmentDigits = 9;

struct StageName {
  RestoreStage stage;
  const char* key;   // in the file
  const char* text;  // for the operator
};
constexpr StageName kStageNames[] = {
    {RestoreStage::kPending, "pending", "nothing saved yet"},
    {RestoreStage::kSaved, "saved", "the measurements saved"},
    {RestoreStage::kErased, "erased", "the memory erased"},
    {RestoreStage::kProcessed, "processed", "the report or conversion written"},
};

const char* StageKey(RestoreStage stage) {
  for (const StageName& name : kStageNames) {
    if (name.stage == stage) return name.key;
  }
  return kStageNames[0].key;
}

bool StageFromKey(const std::string& key, RestoreStage& stage) {
  for (const StageName& name : kStageNames) {
    if (key == name.key) {
      stage = name.stage;
      return true;
    }
  }
  return false;
}

json FactsToJson(const FileFacts& facts) {
  return {{"name", facts.name}, {"length", facts.length}, {"crc16", facts.crc}};
}

json InfoToJson(const device::DeviceInfo& info) {
  return {{"equipmentNumber", info.equipmentNumber},
          {"cardNumber", info.cardNumber},
          {"cardIssue", info.cardIssue},
          {"bootVersion", info.bootVersion},
          {"updateVersion", info.updateVersion},
          {"mainVersion", info.mainVersion},
          {"grade", info.grade},
          {"build", info.build}};
}

// Reads a field of the expected type; a missing or mistyped one fails the whole read.
template <typename Value>
bool Take(const json& object, const char* key, Value& value) {
  const auto it = object.find(key);
  if (it == object.end()) return false;
  if constexpr (std::is_same_v<Value, bool>) {
    if (!it->is_boolean()) return false;
  } else if constexpr (std::is_same_v<Value, std::string>) {
    if (!it->is_string()) return false;
  } else if constexpr (std::is_floating_point_v<Value>) {
    if (!it->is_number()) return false;
  } else {
    if (!it->is_number_integer()) return false;
  }
  value = it->get<Value>();
  return true;
}

bool TakeNames(const json& object, const char* key, std::vector<std::string>& names) {
  const auto it = object.find(key);
  if (it == object.end() || !it->is_array()) return false;
  for (const json& name : *it) {
    if (!name.is_string()) return false;
    names.push_back(name.get<std::string>());
  }
  return true;
}

bool FactsFromJson(const json& object, const char* key, FileFacts& facts) {
  const auto it = object.find(key);
  return it != object.end() && it->is_object() && Take(*it, "name", facts.name) &&
         Take(*it, "length", facts.length) && Take(*it, "crc16", facts.crc);
}

bool InfoFromJson(const json& object, device::DeviceInfo& info) {
  return object.is_object() && Take(object, "equipmentNumber", info.equipmentNumber) &&
         Take(object, "cardNumber", info.cardNumber) && Take(object, "cardIssue", info.cardIssue) &&
         Take(object, "bootVersion", info.bootVersion) &&
         Take(object, "updateVersion", info.updateVersion) &&
         Take(object, "mainVersion", info.mainVersion) && Take(object, "grade", info.grade) &&
         Take(object, "build", info.build);
}

std::int64_t NowSeconds() {
  using namespace std::chrono;
  return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

bool IsJournalName(const std::string& name) {
  const std::string prefix = kJournalPrefix;
  const std::string suffix = kJournalSuffix;
  return name.size() > prefix.size() + suffix.size() && name.starts_with(prefix) &&
         name.ends_with(suffix);
}

}  // namespace

std::filesystem::path JournalPath(const std::filesystem::path& directory,
                                  std::int32_t equipmentNumber) {
  char number[32] = {};
  std::snprintf(number, sizeof number, "%0*ld", static_cast<int>(kEquipmentDigits),
                static_cast<long>(equipmentNumber));
  return directory / (std::string(kJournalPrefix) + number + kJournalSuffix);
}

bool WriteJournal(const std::filesystem::path& path, const RunJournal& journal) {
  const json record = {{"format", kFormatVersion},
                       {"device", InfoToJson(journal.info)},
                       {"images", journal.images},
                       {"specialMain", journal.specialMain},
                       {"restoreFollows", journal.restoreFollows},
                       {"loaded", journal.loaded},
                       {"writtenAt", NowSeconds()},
                       {"restoreStage", StageKey(journal.restoreStage)},
                       {"backup", FactsToJson(journal.backup)},
                       {"conversion", FactsToJson(journal.conversion)}};
  std::filesystem::path temporary = path;
  temporary += kTemporarySuffix;
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << record.dump(2) << '\n';
    out.flush();
    if (!out) {
      out.close();
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      return false;
    }
  }
  std::error_code ec;
  std::filesystem::rename(temporary, path, ec);
  if (ec) std::filesystem::remove(temporary, ec);
  return !ec && std::filesystem::exists(path, ec);
}

bool ReadJournal(const std::filesystem::path& path, RunJournal& journal) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const json record = json::parse(text, nullptr, false);
  if (record.is_discarded() || !record.is_object()) return false;
  RunJournal read;
  int format = 0;
  if (!Take(record, "format", format) || format != kFormatVersion) return false;
  const auto device = record.find("device");
  if (device == record.end() || !InfoFromJson(*device, read.info)) return false;
  if (!TakeNames(record, "images", read.images) || !TakeNames(record, "loaded", read.loaded) ||
      !Take(record, "specialMain", read.specialMain) ||
      !Take(record, "restoreFollows", read.restoreFollows) ||
      !Take(record, "writtenAt", read.writtenAt)) {
    return false;
  }
  std::string stage;
  if (!Take(record, "restoreStage", stage) || !StageFromKey(stage, read.restoreStage) ||
      !FactsFromJson(record, "backup", read.backup) ||
      !FactsFromJson(record, "conversion", read.conversion)) {
    return false;
  }
  journal = std::move(read);
  return true;
}

std::optional<std::filesystem::path> FindNewestJournal(const std::filesystem::path& directory) {
  const std::filesystem::path where = directory.empty() ? std::filesystem::path(".") : directory;
  std::error_code ec;
  std::filesystem::directory_iterator it(where, ec);
  if (ec) return std::nullopt;
  std::optional<std::filesystem::path> newest;
  std::int64_t newestAt = 0;
  for (const std::filesystem::directory_iterator end; it != end; it.increment(ec)) {
    if (ec) break;
    if (!IsJournalName(it->path().filename().string())) continue;
    RunJournal journal;
    if (!ReadJournal(it->path(), journal)) continue;
    if (!newest || journal.writtenAt > newestAt) {
      newest = directory.empty() ? it->path().filename() : it->path();
      newestAt = journal.writtenAt;
    }
  }
  return newest;
}

std::string StepReached(const RunJournal& journal) {
  return journal.loaded.empty() ? kNothingLoaded : journal.loaded.back();
}

bool ImageLoaded(const RunJournal& journal, const std::string& image) {
  return std::find(journal.loaded.begin(), journal.loaded.end(), image) != journal.loaded.end();
}

}  // namespace zephor::update

namespace zephor::update {

bool JournalKeeper::Save() const { return !active() || WriteJournal(path_, journal_); }

void JournalKeeper::Remove() const {
  if (!active()) return;
  std::error_code ignored;
  std::filesystem::remove(path_, ignored);
}

const char* RestoreStageText(RestoreStage stage) {
  for (const StageName& name : kStageNames) {
    if (name.stage == stage) return name.text;
  }
  return kStageNames[0].text;
}

bool ReadFileFacts(const std::filesystem::path& directory, const std::string& name,
                   FileFacts& facts) {
  std::ifstream in(directory / name, std::ios::binary);
  if (!in) return false;
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
  if (in.bad()) return false;
  facts.name = name;
  facts.length = bytes.size();
  facts.crc = transfer::Crc16(bytes.size(), 0, bytes.data());
  return true;
}

}  // namespace zephor::update
