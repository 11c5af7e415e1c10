// The plan is made from what each port answered; folders are made only for instruments that run.
#include "app/fleet_plan.h"

#include <map>
#include <system_error>

#include "app/exit_codes.h"
#include "device/identify.h"
#include "files/folder_file.h"
#include "update/folder_names.h"
#include "update/run_journal.h"

namespace zephor::app {
namespace {

bool LoaderWaits(const std::string& status) {
  return status == device::kStatusNoBoot || status == device::kStatusNoUpdate ||
         status == device::kStatusNoMain;
}

void Refuse(FleetEntry& entry, int code, std::string why) {
  entry.action = FleetAction::kRefuse;
  entry.exitCode = code;
  entry.why = std::move(why);
}

// Makes the folder, or says why it cannot be used: a link or a file of its name is input from
// elsewhere, never followed.
bool MakeFolder(files::Disk& disk, const std::filesystem::path& folder, std::string& why) {
  files::NameStatus found;
  std::string reason;
  if (!disk.Status(folder, found, reason)) {
    why = folder.string() + " cannot be looked at: " + reason;
    return false;
  }
  if (found.kind == files::EntryKind::kFolder) return true;
  if (found.kind != files::EntryKind::kAbsent) {
    why = folder.string() + " is not a folder" +
          (found.kind == files::EntryKind::kLink ? " but a link" : "");
    return false;
  }
  if (files::MakeFolders(disk, folder, reason)) return true;
  why = folder.string() + " cannot be made: " + reason;
  return false;
}

// The folders under out whose usable journal belongs to none of the numbers given.
std::vector<std::filesystem::path> FoldersOfOtherJournals(
    files::Disk& disk, const std::filesystem::path& out,
    const std::map<std::int32_t, int>& numbers) {
  std::vector<std::filesystem::path> folders;
  std::vector<files::Entry> entries;
  std::string why;
  if (!disk.List(out, entries, why)) return folders;
  for (const files::Entry& entry : entries) {
    // A link is never followed: only folders of the fleet's own naming are looked into.
    if (!entry.name.starts_with(kFleetFolderPrefix) || entry.kind != files::EntryKind::kFolder) {
      continue;
    }
    for (const update::FoundJournal& found : update::ExamineJournals(disk, out / entry.name)) {
      if (found.usable && !numbers.contains(found.journal.info.equipmentNumber)) {
        folders.push_back(out / entry.name);
        break;
      }
    }
  }
  return folders;
}

// The port the folder's last fleet run was on; empty when it does not say.
std::string PortOfFolder(files::Disk& disk, const std::filesystem::path& folder) {
  constexpr std::uint64_t kLongestRecord = 4096;
  files::Bytes bytes;
  std::string why;
  if (!files::ReadRegularFile(disk, folder / kFleetPortFileName, kLongestRecord, bytes, why)) {
    return {};
  }
  std::string port(bytes.begin(), bytes.end());
  while (!port.empty() && (port.back() == '\n' || port.back() == '\r')) port.pop_back();
  return port;
}

// A loader that asks for a program is finished from the journal of its stopped run: the one its
// port was last updated from, or the only one for the only such instrument. (A journal of another
// instrument is found out by the run before the memory is touched.)
void PlaceWaitingLoaders(const std::vector<FleetEntry*>& waiting,
                         const std::vector<std::filesystem::path>& open, files::Disk& disk) {
  for (FleetEntry* entry : waiting) {
    std::vector<std::filesystem::path> samePort;
    for (const std::filesystem::path& folder : open) {
      if (PortOfFolder(disk, folder) == entry->member.port) samePort.push_back(folder);
    }
    if (samePort.size() == 1 || (waiting.size() == 1 && open.size() == 1)) {
      entry->action = FleetAction::kRun;
      entry->folder = samePort.size() == 1 ? samePort.front() : open.front();
      continue;
    }
    Refuse(*entry, kExitUpdateStopped,
           "its loader waits for a program (" + entry->identity.status +
               ") and cannot say its number; no single folder here holds the journal of its "
               "update: finish it with zephor update " +
               entry->member.port + " --folder FOLDER");
  }
}

}  // namespace

std::vector<FleetEntry> PlanFleet(const std::vector<FleetMember>& members,
                                  const std::filesystem::path& out, bool skipSilent,
                                  files::Disk& disk) {
  std::vector<FleetEntry> plan;
  std::map<std::int32_t, int> ports;  // how many ports answer with each number
  std::vector<FleetEntry*> waiting;
  for (const FleetMember& member : members) {
    FleetEntry& entry = plan.emplace_back();
    entry.member = member;
    entry.identity = ReadInfoJson(member.identity);
    if (entry.identity.status == device::kStatusOk && entry.identity.info) {
      entry.action = FleetAction::kRun;
      ++ports[entry.identity.info->equipmentNumber];
    }
  }
  for (FleetEntry& entry : plan) {
    const InfoAnswer& identity = entry.identity;
    if (entry.action == FleetAction::kRun) {
      const std::string number = update::EquipmentText(identity.info->equipmentNumber);
      if (ports[identity.info->equipmentNumber] > 1) {
        Refuse(entry, kExitFolderBusy,
               "ZEPHOR " + number +
                   " answers on more than one port: none of them is updated (one folder for "
                   "each instrument)");
        continue;
      }
      entry.folder = out / (kFleetFolderPrefix + number);
    } else if (LoaderWaits(identity.status)) {
      waiting.push_back(&entry);
    } else if (!entry.member.heldBy.empty()) {
      Refuse(entry, kExitFolderBusy,
             "in use by " + entry.member.heldBy +
                 ": not identified; run the fleet again on this port once that program has "
                 "ended");
    } else if (skipSilent) {
      entry.action = FleetAction::kSkip;
      entry.why = entry.member.said.empty() ? "no ZEPHOR answers" : entry.member.said;
    } else {
      Refuse(entry, kExitNoInstrument,
             entry.member.said.empty() ? "no ZEPHOR answers" : entry.member.said);
    }
  }
  PlaceWaitingLoaders(waiting, FoldersOfOtherJournals(disk, out, ports), disk);
  for (FleetEntry& entry : plan) {
    std::string why;
    if (entry.action == FleetAction::kRun && !MakeFolder(disk, entry.folder, why)) {
      Refuse(entry, kExitFolderBusy, why);
    }
  }
  return plan;
}

}  // namespace zephor::app
