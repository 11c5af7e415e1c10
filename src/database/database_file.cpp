// The file is read raw and whole; the walk over it happens in place.
#include "database/database_file.h"

#include <fstream>
#include <new>
#include <string>

namespace zephor::database {

std::optional<std::vector<std::uint8_t>> LoadDatabaseFile(device::Station& station,
                                                          const std::filesystem::path& directory) {
  std::ifstream file(directory / kDatabaseFileName, std::ios::binary | std::ios::ate);
  if (!file) {
    station.panel->ShowMessage(std::string("Can't open file ") + kDatabaseFileName,
                               device::MessageButtons::kOk);
    station.panel->ExitProgram(1);
    return std::nullopt;
  }
  const std::streamoff length = file.tellg();
  if (length < 0) return std::nullopt;
  std::vector<std::uint8_t> buffer;
  try {
    buffer.resize(static_cast<std::size_t>(length));
  } catch (const std::bad_alloc&) {
    station.panel->ShowMessage(kNoMemoryMessage, device::MessageButtons::kOk);
    return std::nullopt;
  }
  file.seekg(0);
  file.read(reinterpret_cast<char*>(buffer.data()), length);
  if (file.gcount() != length) return std::nullopt;
  return buffer;
}

void PauseBeforeClose(device::Station& station) {
  if (station.ports.timing != nullptr) station.ports.timing->SleepMs(kCloseDelayMs);
}

}  // namespace zephor::database
