// The folder's lock and its journals, checked once at the start of a run.
#include "update/folder_check.h"

#include <algorithm>
#include <cstdio>

#include "device/formatted_text.h"
#include "update/folder_names.h"
#include "update/run_journal.h"

namespace zephor::update {
using device::Formatted;

namespace {

std::string Instrument(std::optional<std::int32_t> equipmentNumber) {
  return equipmentNumber ? "ZEPHOR " + EquipmentText(*equipmentNumber) : "any ZEPHOR";
}

// The box the run stops with, also in the log: what is wrong, where the surveys are, what to do.
void Refuse(device::Station& station, const std::string& what,
            const std::filesystem::path& directory, std::optional<std::int32_t> connected) {
  const std::vector<std::string> backups =
      DatedBackupsIn(device::DiskOf(station), directory, connected);
  std::string list;
  for (const std::string& name : backups) list += (list.empty() ? "" : ", ") + name;
  const std::string where =
      backups.empty() ? Formatted(kNoBackupsHereFormat, Instrument(connected).c_str())
                      : Formatted(kBackupsHereFormat, Instrument(connected).c_str(), list.c_str());
  for (const std::string* line : {&what, &where}) {
    station.panel->AppendLog("\t" + *line + "\r\n");
  }
  station.panel->ShowMessage(what + "\n" + where + "\n" + kWayOutText, device::MessageButtons::kOk);
}

}  // namespace

std::optional<files::FolderLock> TakeFolder(device::Station& station,
                                            const std::filesystem::path& directory) {
  files::FolderLock lock = files::FolderLock::Take(device::DiskOf(station), directory);
  if (lock.taken()) return lock;
  const std::string text =
      lock.outcome() == files::FolderLock::Outcome::kBusy
          ? Formatted(kFolderBusyFormat, lock.holder())
          : Formatted(kFolderNotLockedFormat, files::kLockFileName, lock.why().c_str());
  station.panel->AppendLog("\t" + text + "\r\n");
  station.panel->ShowMessage(text, device::MessageButtons::kOk);
  return std::nullopt;
}

std::vector<std::string> DatedBackupsIn(files::Disk& disk, const std::filesystem::path& directory,
                                        std::optional<std::int32_t> equipmentNumber) {
  const std::string prefix =
      std::string(kDatedBackupPrefix) + (equipmentNumber ? EquipmentText(*equipmentNumber) : "");
  std::vector<std::string> names;
  std::vector<files::Entry> entries;
  std::string why;
  if (!disk.List(directory, entries, why)) return names;
  for (const files::Entry& entry : entries) {
    if (entry.name.starts_with(prefix) && entry.name.ends_with(".bin")) names.push_back(entry.name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool JournalsAllowRun(device::Station& station, const std::filesystem::path& directory,
                      std::optional<std::int32_t> connected, bool loaderPrograms) {
  const char* done = loaderPrograms ? kOnlyLoaderProgramsText : kNothingDoneText;
  for (const FoundJournal& found : ExamineJournals(device::DiskOf(station), directory)) {
    const std::string name = found.path.filename().string();
    if (!found.usable) {
      Refuse(station, Formatted(kJournalUnusableFormat, name.c_str(), found.why.c_str(), done),
             directory, connected);
      return false;
    }
    const std::int32_t owner = found.journal.info.equipmentNumber;
    if (connected && owner != *connected) {
      const std::string ownerText = EquipmentText(owner);
      Refuse(station,
             Formatted(kForeignJournalFormat, name.c_str(), ownerText.c_str(),
                       EquipmentText(*connected).c_str(), done, ownerText.c_str()),
             directory, connected);
      return false;
    }
  }
  return true;
}

}  // namespace zephor::update
