// The upload of the converted database "_Conversion.txt" back into the instrument.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "database/saved_database.h"
#include "device/operator_panel.h"

namespace zephor::database {

// The instrument's memory area the converted database goes into.
inline constexpr int kUploadArea = 3;
inline constexpr int kUploadReplySize = 15;
inline constexpr int kUploadReplyLimitMs = 1000;
inline constexpr const char* kNotConvertedLine =
    "\t_Conversion.txt was not completed in this run: nothing written to ZEPHOR.\r\n";

// "UPLOAD 3 0x<length> 0x<check>": lower-case hexadecimal, the check right-aligned in four
// characters and padded with blanks.
std::string UploadCommandText(std::size_t length, std::uint16_t check);

// Sends directory/"_Conversion.txt" when this run's conversion completed it (outcome kConverted);
// any other outcome sends nothing and the log says why. A missing file ends the program. True
// when the file went over whole.
bool UploadDatabase(device::Station& station, int portIndex, SavedDatabaseOutcome outcome,
                    const std::filesystem::path& directory = {});

// The exchange with the instrument: unlock, announce length and check, send, lock. True when the
// transfer succeeded.
bool SendDatabaseFile(device::Station& station, int portIndex, std::size_t length,
                      std::uint16_t check, const std::filesystem::path& directory = {});

}  // namespace zephor::database
