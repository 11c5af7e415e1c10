// The memory is downloaded whole and compared byte for byte; nothing is decided from a record.
#include "update/memory_probe.h"

#include <algorithm>
#include <string>

#include "database/database_download.h"
#include "database/database_file.h"
#include "transfer/crc16.h"
#include "update/measurement_backup.h"

namespace zephor::update {
namespace {

// A download reply field no instrument fills in: the memory is never this long.
constexpr int kNoLengthYet = -1;
// The receiver takes blocks of up to 1024 bytes: no more padding than that follows the data.
constexpr std::size_t kLargestBlock = 1024;

// The bytes of a file of the folder whose facts a record gives, when they still match them.
bool ProvenBytes(files::Disk& disk, const std::filesystem::path& directory, const FileFacts* facts,
                 files::Bytes& bytes) {
  if (facts == nullptr || facts->name.empty()) return false;
  FileFacts found;
  return ReadFileFacts(disk, directory, facts->name, found, &bytes) &&
         found.length == facts->length && found.crc == facts->crc;
}

// A check of the memory leaves the bar where the run has brought it: an empty memory is the
// expected answer here, not the end of a chain.
class KeepBar final : public device::PanelRelay {
 public:
  explicit KeepBar(device::OperatorPanel& inner) : PanelRelay(inner) {}
  void SetProgress(int) override {}
};

}  // namespace

MemoryRead ReadMemory(device::Station& station, int portIndex,
                      const std::filesystem::path& directory, const char* fileName,
                      files::Bytes& bytes) {
  station.downloadReply[1] = kNoLengthYet;
  if (!database::DownloadDatabase(station, portIndex, directory, fileName)) {
    const bool empty = station.downloadReply[1] == 0 && !device::StopRequested(station);
    return empty ? MemoryRead::kEmpty : MemoryRead::kFailed;
  }
  std::string why;
  if (!files::ReadRegularFile(device::DiskOf(station), directory / fileName,
                              database::kSavedDatabaseLimit, bytes, why)) {
    station.panel->AppendLog(std::string("\t") + fileName + " cannot be read back (" + why +
                             "): nothing more is done with the memory.\r\n");
    return MemoryRead::kFailed;
  }
  return MemoryRead::kRead;
}

bool MemoryIsConversion(const device::Station& station, const files::Bytes& bytes,
                        const FileFacts& conversion) {
  const auto length = static_cast<std::size_t>(conversion.length);
  if (conversion.name.empty() || station.downloadReply[1] < 0 ||
      static_cast<std::size_t>(station.downloadReply[1]) != length || bytes.size() < length ||
      bytes.size() - length >= kLargestBlock) {
    return false;
  }
  return transfer::Crc16(length, 0, bytes.data()) == conversion.crc;
}

MemoryFound ProbeMemory(device::Station& station, int portIndex,
                        const std::filesystem::path& directory, std::int32_t equipmentNumber,
                        const FileFacts* backup, const FileFacts* conversion) {
  MemoryFound found;
  files::Bytes bytes;
  device::OperatorPanel* window = station.panel;
  KeepBar bar(*window);
  station.panel = &bar;
  const MemoryRead read = ReadMemory(station, portIndex, directory, kMemoryCheckFileName, bytes);
  station.panel = window;
  // The check's own file is not a backup: the dated copy below is, when one is needed.
  std::string ignored;
  device::DiskOf(station).Remove(directory / kMemoryCheckFileName, ignored);
  if (read == MemoryRead::kEmpty) {
    found.holds = MemoryHolds::kEmpty;
    return found;
  }
  if (read == MemoryRead::kFailed) return found;
  files::Bytes saved;
  if (ProvenBytes(device::DiskOf(station), directory, backup, saved) && saved == bytes) {
    found.holds = MemoryHolds::kBackup;
    found.kept = *backup;
    return found;
  }
  if (conversion != nullptr && MemoryIsConversion(station, bytes, *conversion)) {
    found.holds = MemoryHolds::kConversion;
    return found;
  }
  found.holds = MemoryHolds::kOther;
  KeepProvenCopy(station, directory, equipmentNumber, bytes, found.kept);
  return found;
}

}  // namespace zephor::update
