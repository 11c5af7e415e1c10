// The run journal as JSON; every rewrite goes through a temporary file and a rename.
#include "update/run_journal.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <system_error>
#include <vector>

#include "database/database_file.h"
#include "files/folder_file.h"
#include "transfer/crc16.h"
#include "update/image_files.h"

namespace zephor::update {
namespace {

using nlohmann::json;

constexpr const char* kNothingLoaded = "its start";
constexpr int kFormatVersion = 1;
constexpr const char* kImageNames[] = {kNewBootImage, kBootImage, kUpdateImage, kSpecialMainImage,
                                       kMainImage};

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

bool IsImageName(const std::string& name) {
  return std::any_of(std::begin(kImageNames), std::end(kImageNames),
                     [&name](const char* image) { return name == image; });
}

// The names a journal hands on are used as files of its folder: each must be one of the kinds a
// run writes there, never a path.
std::string CheckNames(const RunJournal& journal) {
  for (const auto* names : {&journal.images, &journal.loaded}) {
    for (const std::string& name : *names) {
      if (!IsImageName(name)) return "it names \"" + name + "\" as an image";
    }
  }
  if (!journal.backup.name.empty() &&
      !IsDatedBackupName(journal.backup.name, journal.info.equipmentNumber)) {
    return "its backup \"" + journal.backup.name + "\" is not a dated backup of ZEPHOR " +
           EquipmentText(journal.info.equipmentNumber) + " in this folder";
  }
  const std::string& written = journal.conversion.name;
  if (!written.empty() && written != database::kConversionFileName &&
      written != database::kReportFileName) {
    return "it names \"" + written + "\" as its report or conversion";
  }
  return {};
}

}  // namespace

bool WriteJournal(files::Disk& disk, const std::filesystem::path& path, const RunJournal& journal) {
  const json record = {{"format", kFormatVersion},
                       {"device", InfoToJson(journal.info)},
                       {"images", journal.images},
                       {"specialMain", journal.specialMain},
                       {"restoreFollows", journal.restoreFollows},
                       {"loaded", journal.loaded},
                       {"writtenAt", disk.WallClockSeconds()},
                       {"restoreStage", StageKey(journal.restoreStage)},
                       {"backup", FactsToJson(journal.backup)},
                       {"conversion", FactsToJson(journal.conversion)}};
  const std::string text = record.dump(2) + "\n";
  std::string why;
  return files::ReplaceContents(
      disk, path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), why);
}

bool ReadJournal(files::Disk& disk, const std::filesystem::path& path, RunJournal& journal,
                 std::string& why) {
  std::vector<std::uint8_t> bytes;
  if (!files::ReadRegularFile(disk, path, kJournalSizeLimit, bytes, why)) return false;
  const json record = json::parse(bytes.begin(), bytes.end(), nullptr, false);
  if (record.is_discarded() || !record.is_object()) {
    why = "it is not a whole journal (cut short, or not JSON)";
    return false;
  }
  RunJournal read;
  int format = 0;
  std::string stage;
  const auto device = record.find("device");
  if (!Take(record, "format", format) || format != kFormatVersion || device == record.end() ||
      !InfoFromJson(*device, read.info) || !TakeNames(record, "images", read.images) ||
      !TakeNames(record, "loaded", read.loaded) || !Take(record, "specialMain", read.specialMain) ||
      !Take(record, "restoreFollows", read.restoreFollows) ||
      !Take(record, "writtenAt", read.writtenAt) || !Take(record, "restoreStage", stage) ||
      !StageFromKey(stage, read.restoreStage) || !FactsFromJson(record, "backup", read.backup) ||
      !FactsFromJson(record, "conversion", read.conversion)) {
    why = "a field of the journal is missing or not what it should be";
    return false;
  }
  why = CheckNames(read);
  if (!why.empty()) return false;
  journal = std::move(read);
  return true;
}

bool ReadJournal(files::Disk& disk, const std::filesystem::path& path, RunJournal& journal) {
  std::string ignored;
  return ReadJournal(disk, path, journal, ignored);
}

std::vector<FoundJournal> ExamineJournals(files::Disk& disk,
                                          const std::filesystem::path& directory) {
  std::vector<FoundJournal> found;
  std::vector<files::Entry> entries;
  std::string why;
  // A folder that cannot be listed holds no journal this run could read either.
  if (!disk.List(directory, entries, why)) return found;
  for (const files::Entry& listed : entries) {
    const std::string& name = listed.name;
    if (!IsJournalName(name)) continue;
    FoundJournal entry;
    entry.path = directory / name;
    entry.usable = ReadJournal(disk, entry.path, entry.journal, entry.why);
    const std::optional<std::int32_t> named = JournalNameNumber(name);
    if (entry.usable && (!named || *named != entry.journal.info.equipmentNumber)) {
      entry.usable = false;
      entry.why = "its name does not carry the number of the instrument it was written for (" +
                  EquipmentText(entry.journal.info.equipmentNumber) + ")";
    }
    found.push_back(std::move(entry));
  }
  std::sort(found.begin(), found.end(),
            [](const FoundJournal& a, const FoundJournal& b) { return a.path < b.path; });
  return found;
}

std::vector<FoundJournal> ExamineJournals(const std::filesystem::path& directory) {
  return ExamineJournals(files::SystemDisk(), directory);
}

std::optional<std::filesystem::path> FindNewestJournal(files::Disk& disk,
                                                       const std::filesystem::path& directory) {
  std::optional<std::filesystem::path> newest;
  std::int64_t newestAt = 0;
  for (const FoundJournal& entry : ExamineJournals(disk, directory)) {
    if (!entry.usable) continue;
    if (!newest || entry.journal.writtenAt > newestAt) {
      newest = entry.path;
      newestAt = entry.journal.writtenAt;
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

bool JournalKeeper::Save() const { return !active() || WriteJournal(*disk_, path_, journal_); }

bool JournalKeeper::Remove() const {
  if (!active()) return true;
  // A journal that comes back after a power cut would start a finished restore again.
  std::string why;
  return files::RemoveDurably(*disk_, path_, why);
}

const char* RestoreStageText(RestoreStage stage) {
  for (const StageName& name : kStageNames) {
    if (name.stage == stage) return name.text;
  }
  return kStageNames[0].text;
}

FileFacts FactsOf(const std::string& name, const std::vector<std::uint8_t>& bytes) {
  return {name, bytes.size(), transfer::Crc16(bytes.size(), 0, bytes.data())};
}

bool ReadFileFacts(files::Disk& disk, const std::filesystem::path& directory,
                   const std::string& name, FileFacts& facts, std::vector<std::uint8_t>* bytes) {
  // Only a name of this folder: a separator would lead elsewhere.
  if (name.empty() || std::filesystem::path(name).filename() != name) return false;
  std::vector<std::uint8_t> read;
  std::string why;
  if (!files::ReadRegularFile(disk, directory / name, database::kSavedDatabaseLimit, read, why))
    return false;
  facts = FactsOf(name, read);
  if (bytes != nullptr) *bytes = std::move(read);
  return true;
}

}  // namespace zephor::update
