// The dispatch after the download: the buffer lives until the report or conversion is done.
#include "database/saved_database.h"

#include "database/conversion.h"
#include "database/database_file.h"

namespace zephor::database {

SavedDatabaseOutcome ProcessSavedDatabase(device::Station& station, const device::DeviceInfo& info,
                                          const std::filesystem::path& directory) {
  const auto database = LoadDatabaseFile(station, directory);
  if (!database) return SavedDatabaseOutcome::kNotLoaded;
  return ProcessDatabaseBytes(station, info, *database, directory);
}

SavedDatabaseOutcome ProcessDatabaseBytes(device::Station& station, const device::DeviceInfo& info,
                                          const std::vector<std::uint8_t>& database,
                                          const std::filesystem::path& directory) {
  if (station.grade == kReportGrade) {
    return WriteSurveyReport(station, database, info, directory)
               ? SavedDatabaseOutcome::kReportWritten
               : SavedDatabaseOutcome::kReportFailed;
  }
  return ConvertDatabase(station, database, directory) ? SavedDatabaseOutcome::kConverted
                                                       : SavedDatabaseOutcome::kConversionFailed;
}

}  // namespace zephor::database
