// One erase for every caller: the restore, the "QH" erase before an update and "zephor erase".
#include "update/memory_erase.h"

#include <optional>
#include <string>

#include "device/erase.h"
#include "device/identify.h"
#include "device/info_report.h"
#include "files/folder_lock.h"
#include "update/folder_check.h"
#include "update/measurement_backup.h"
#include "update/memory_probe.h"

namespace zephor::update {
namespace {

void Tell(device::Station& station, const char* text) {
  station.panel->AppendLog(std::string("\t") + text + "\r\n");
  station.panel->ShowMessage(text, device::MessageButtons::kOk);
}

}  // namespace

EraseOutcome EraseAndProve(device::Station& station, int portIndex,
                           const std::filesystem::path& directory, std::int32_t equipmentNumber,
                           bool announce, const FileFacts* backup) {
  if (!device::EraseLogger(station, announce, false)) return EraseOutcome::kNoInstrument;
  const MemoryFound found =
      ProbeMemory(station, portIndex, directory, equipmentNumber, backup, nullptr);
  switch (found.holds) {
    case MemoryHolds::kEmpty:
      if (announce) station.panel->AppendLog(device::kEraseFinishedLine);
      return EraseOutcome::kErased;
    case MemoryHolds::kUnknown:
      // A stop is told by the run that was stopped; a box would stand in the closing window's way.
      if (!device::StopRequested(station)) Tell(station, kEraseNotProvenText);
      return EraseOutcome::kNotProven;
    case MemoryHolds::kBackup:
    case MemoryHolds::kConversion:
    case MemoryHolds::kOther:
      break;
  }
  Tell(station, kEraseNotTakenText);
  return EraseOutcome::kNotTaken;
}

EraseRunOutcome EraseWithBackup(device::Station& station, const std::filesystem::path& directory) {
  if (!station.panel->ShowMessage(kEraseQuestion, device::MessageButtons::kOkCancel)) {
    return EraseRunOutcome::kCancelled;
  }
  // The backup is written here: no other run may write here meanwhile.
  const std::optional<files::FolderLock> folder = TakeFolder(station, directory);
  if (!folder) return EraseRunOutcome::kFolderBusy;
  // The backup is named by the instrument's number.
  device::DeviceInfo info;
  if (!device::Identify(station, info) || station.statusText != device::kStatusOk) {
    device::ShowNoInfo(station);
    return EraseRunOutcome::kNoInstrument;
  }
  FileFacts kept;
  if (!BackupBeforeErase(station, station.portIndex, directory, info.equipmentNumber, &kept)) {
    return EraseRunOutcome::kCancelled;
  }
  switch (EraseAndProve(station, station.portIndex, directory, info.equipmentNumber, true,
                        kept.name.empty() ? nullptr : &kept)) {
    case EraseOutcome::kErased:
      return EraseRunOutcome::kErased;
    case EraseOutcome::kNoInstrument:
      return EraseRunOutcome::kNoInstrument;
    case EraseOutcome::kNotTaken:
    case EraseOutcome::kNotProven:
      break;
  }
  return EraseRunOutcome::kNotTaken;
}

}  // namespace zephor::update
