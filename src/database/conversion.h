// The conversion of a saved database into the layout of main program 1.40, "_Conversion.txt".
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>

#include "database/record_walk.h"
#include "device/operator_panel.h"

namespace zephor::database {

inline constexpr std::size_t kStagingAreaSize = 1000;

// Writes every record of the old layout in the new one. True only when the whole database up
// to its end (or the last whole record of truncated data) was written and the file closed
// cleanly; only such a file may be sent back to the instrument.
bool ConvertDatabase(device::Station& station, std::span<const std::uint8_t> database,
                     const std::filesystem::path& directory = {});

// The records the conversion reads, in order, up to the end-of-data byte: a survey header whose
// count says "no measurements" reaches no further than its 28 bytes, and a survey not stopped is
// read like any other.
WalkEnd WalkConversionRecords(std::span<const std::uint8_t> database,
                              const std::function<bool(const Record&)>& visit);

}  // namespace zephor::database
