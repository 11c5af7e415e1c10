// The file is read raw and whole; the walk over it happens in place.
#include "database/database_file.h"

#include <new>
#include <span>
#include <string>

#include "files/folder_file.h"

namespace zephor::database {

std::optional<std::vector<std::uint8_t>> LoadDatabaseFile(device::Station& station,
                                                          const std::filesystem::path& directory) {
  std::vector<std::uint8_t> buffer;
  std::string why;
  bool read = false;
  try {
    read = files::ReadRegularFile(device::DiskOf(station), directory / kDatabaseFileName,
                                  kSavedDatabaseLimit, buffer, why);
  } catch (const std::bad_alloc&) {
    station.panel->ShowMessage(kNoMemoryMessage, device::MessageButtons::kOk);
    return std::nullopt;
  }
  if (!read) {
    station.panel->AppendLog(std::string("\t") + kDatabaseFileName + ": " + why + ".\r\n");
    station.panel->ShowMessage(std::string("Can't open file ") + kDatabaseFileName,
                               device::MessageButtons::kOk);
    station.panel->ExitProgram(1);
    return std::nullopt;
  }
  return buffer;
}

bool WriteOutputFile(device::Station& station, const std::filesystem::path& directory,
                     const char* name, const char* boxName, std::string_view bytes) {
  std::string why;
  if (files::ReplaceContents(
          device::DiskOf(station), directory / name,
          std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), why)) {
    return true;
  }
  station.panel->AppendLog(std::string("\t") + name + ": " + why + ".\r\n");
  station.panel->ShowMessage(std::string("Can't open file ") + boxName,
                             device::MessageButtons::kOk);
  return false;
}

void PauseBeforeClose(device::Station& station) {
  if (station.ports.timing != nullptr) station.ports.timing->SleepMs(kCloseDelayMs);
}

}  // namespace zephor::database
