// Every survey and measurement of a saved database, decoded, as text, JSON or CSV.
#pragma once

#include <cstdint>
#include <ostream>
#include <span>

#include "database/record_walk.h"

namespace zephor::database {

enum class DumpFormat { kText, kJson, kCsv };

// Walks the records as the conversion does (a "no measurements" header is 28 bytes and a survey
// that was not stopped does not end the walk) and writes each survey with its measurements.
// Returns how the walk ended; a database without its end byte is dumped up to its last whole
// record.
WalkEnd DumpDatabase(std::span<const std::uint8_t> database, DumpFormat format, std::ostream& out);

}  // namespace zephor::database
