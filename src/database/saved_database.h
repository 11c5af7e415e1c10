// What the database chain does with the saved database: the report or the conversion, by grade.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "database/survey_report.h"
#include "device/operator_panel.h"

namespace zephor::database {

// The grade whose instruments get the readable report instead of a conversion.
inline constexpr const char* kReportGrade = "VJ";

enum class SavedDatabaseOutcome {
  kNotLoaded,  // "ZEPHORdata.bin" missing or no memory
  kReportWritten,
  kReportFailed,
  kConverted,  // "_Conversion.txt" is complete and may be sent back
  kConversionFailed,
};

// Loads the saved database and writes the report (grade "VJ") or the conversion (any other).
SavedDatabaseOutcome ProcessSavedDatabase(device::Station& station, const device::DeviceInfo& info,
                                          const std::filesystem::path& directory = {});

// The same from a saved database read already (a backup named by the technician), so that
// "ZEPHORdata.bin" is left as it is.
SavedDatabaseOutcome ProcessDatabaseBytes(device::Station& station, const device::DeviceInfo& info,
                                          const std::vector<std::uint8_t>& database,
                                          const std::filesystem::path& directory = {});

}  // namespace zephor::database
