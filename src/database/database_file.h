// The saved measurement database "ZEPHORdata.bin" and the files made from it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "device/operator_panel.h"

namespace zephor::database {

inline constexpr const char* kDatabaseFileName = "ZEPHORdata.bin";
inline constexpr const char* kReportFileName = "_Quarvel.txt";
inline constexpr const char* kConversionFileName = "_Conversion.txt";
inline constexpr const char* kNoMemoryMessage = "Insufficient memory available\n";
// The largest saved database read: far above any instrument's memory.
inline constexpr std::uint64_t kSavedDatabaseLimit = std::uint64_t{256} << 20;
// The pause before a written file is closed.
inline constexpr std::uint32_t kCloseDelayMs = 50;

// Reads the whole file into a buffer of exactly its length; only a plain file, not a link. A file
// that cannot be opened ends the program with code 1 after a message box; no memory gives a
// message box. Both give nothing.
std::optional<std::vector<std::uint8_t>> LoadDatabaseFile(
    device::Station& station, const std::filesystem::path& directory = {});

// The plain pause before a written file is closed.
void PauseBeforeClose(device::Station& station);

// Writes a report or conversion made in memory to its name in directory: through a fresh
// temporary file, synced and renamed over the name, never through a link found there. False
// after the message box "Can't open file NAME" and a log line with the reason.
bool WriteOutputFile(device::Station& station, const std::filesystem::path& directory,
                     const char* name, const char* boxName, std::string_view bytes);

}  // namespace zephor::database
