// The retries run behind a panel that keeps the log and holds back the boxes of each failed try.
#include "update/open_run_wait.h"

#include <cstdio>
#include <optional>

#include "device/announced_wait.h"
#include "device/identify.h"
#include "update/image_files.h"

namespace zephor::update {
namespace {

constexpr std::uint32_t kTryPeriodMs = 5000;

void WaitOutTry(device::Station& station, std::uint32_t start) {
  serial::Timing* timing = station.ports.timing;
  if (timing == nullptr) return;
  for (std::uint32_t waited;
       (waited = timing->TickMs() - start) < kTryPeriodMs && !timing->StopRequested();) {
    timing->IdleFor(nullptr, kTryPeriodMs - waited);
  }
}

std::string Backup(const RunJournal& journal) {
  return journal.backup.name.empty() ? std::string("no dated backup") : journal.backup.name;
}

}  // namespace

std::string StoppedRunWords(const RunJournal& journal) {
  const bool mainLoaded = ImageLoaded(journal, kMainImage);
  if (!journal.restoreFollows || !mainLoaded) {
    return "during its loads, after " + StepReached(journal) +
           ": its loader may be waiting for a program";
  }
  switch (journal.restoreStage) {
    case RestoreStage::kPending:
      return "before its measurements were saved: its memory is not erased";
    case RestoreStage::kSaved:
      return "after saving its measurements in " + Backup(journal) +
             ": its memory is not erased yet";
    case RestoreStage::kErased:
      return "after erasing its memory: the surveys are in " + Backup(journal);
    case RestoreStage::kProcessed:
      return "while writing the converted database back: its memory is erased and the surveys "
             "are in " +
             Backup(journal);
  }
  return {};
}

bool IdentifyForOpenRun(device::Station& station, const std::filesystem::path& directory,
                        device::DeviceInfo& info) {
  files::Disk& disk = device::DiskOf(station);
  const std::optional<std::filesystem::path> open = FindNewestJournal(disk, directory);
  RunJournal journal;
  if (!open || !ReadJournal(disk, *open, journal)) return device::Identify(station, info);
  station.panel->ClearLog();
  device::OperatorPanel* window = station.panel;
  QuietTries quiet(*window);
  station.panel = &quiet;
  bool answered = device::Identify(station, info);
  if (!answered) {
    const device::AnnouncedWait wait(station, kOpenRunWaitSubject, kOpenRunWaitMs);
    const std::uint32_t start = device::StationTick(station);
    while (!answered && !device::StopRequested(station) &&
           device::StationTick(station) - start < static_cast<std::uint32_t>(kOpenRunWaitMs)) {
      const std::uint32_t tryStart = device::StationTick(station);
      answered = device::Identify(station, info);
      // A port that fails at once (an adapter pulled out) is tried no faster than a silent one.
      WaitOutTry(station, tryStart);
    }
  }
  station.panel = window;
  if (answered) return true;
  if (device::StopRequested(station)) return false;
  char text[1024] = {};
  std::snprintf(text, sizeof text, kNoAnswerFormat,
                EquipmentText(journal.info.equipmentNumber).c_str(),
                StoppedRunWords(journal).c_str());
  station.panel->AppendLog(std::string("\t") + text + "\r\n");
  station.panel->ShowMessage(text, device::MessageButtons::kOk);
  return false;
}

}  // namespace zephor::update
