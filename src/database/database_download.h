// The download of the instrument's measurement memory into "ZEPHORdata.bin".
#pragma once

#include <filesystem>
#include <string>

#include "database/database_file.h"
#include "device/operator_panel.h"
#include "transfer/xfer.h"

namespace zephor::database {

inline constexpr const char* kDownloadCommand = "DOWNLOAD";
inline constexpr int kDownloadReplySize = 15;
inline constexpr int kDownloadReplyLimitMs = 1000;
inline constexpr int kDownloadReplyBufferSize = 500;
// Plain pauses: after the lock, and before the lock once the transfer is done.
inline constexpr std::uint32_t kLockPauseMs = 150;
inline constexpr std::uint32_t kSettlePauseMs = 1000;
inline constexpr const char* kNoResponseMessage = "No response of ZEPHOR";
inline constexpr const char* kDatabaseEmptyLine = "\tDataBase empty.\r\n";

// 60000 as "60 000", as the messages write byte counts.
std::string GroupedNumber(long long value);

// "\tZEPHORdata.bin: the disk is full after 36 864 of 60 000 bytes; nothing was erased.\r\n"
std::string SaveFailureLine(const transfer::FileFailure& failure, int announcedBytes,
                            const char* fileName = kDatabaseFileName);

// Asks the instrument for its memory and receives it into directory/fileName (the working
// directory when empty; "ZEPHORdata.bin" unless a check of the memory names another file). Stores
// the instrument's three answer numbers in station.downloadReply. True only when the transfer
// succeeded.
bool DownloadDatabase(device::Station& station, int portIndex,
                      const std::filesystem::path& directory = {},
                      const char* fileName = kDatabaseFileName);

}  // namespace zephor::database
