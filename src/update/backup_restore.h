// The way out when no journal can finish a restore: a dated backup the technician names is
// written back, as the restore would have written it, to an instrument whose memory is empty.
#pragma once

#include <filesystem>

#include "device/device_info.h"
#include "device/operator_panel.h"

namespace zephor::update {

inline constexpr const char* kBackupNotUsableFormat =
    "%s cannot be written back: %s. Nothing was sent to the ZEPHOR.";
inline constexpr const char* kNotWholeText =
    "it is not a whole saved database (it does not end as a download of the memory ends)";
inline constexpr const char* kNotThisInstrumentFormat =
    "%s cannot be written back: it is not known as a backup of ZEPHOR %s (its name is not one of "
    "that instrument's dated backups, and no record in this folder names it). Nothing was sent to "
    "the ZEPHOR. Give --other-instrument to write it to this instrument all the same.";
inline constexpr const char* kOldLayoutMainFormat =
    "ZEPHOR %s runs main %.2f, which keeps the old memory layout: update it first, then write the "
    "backup back.";
inline constexpr const char* kMemoryNotEmptyFormat =
    "The memory of ZEPHOR %s is not empty: it is kept as %s and left as it is. Erase it first to "
    "write a backup back.";
inline constexpr const char* kMemoryUnknownFormat =
    "The memory of ZEPHOR %s could not be read to check that it is empty: nothing was written "
    "back.";
inline constexpr const char* kBackupWrittenBackFormat =
    "\tThe surveys of %s are written back to ZEPHOR %s.\r\n";
inline constexpr const char* kBackupInMemoryFormat =
    "\tThe memory of ZEPHOR %s holds the conversion of %s already: nothing more is sent.\r\n";

// The instrument identified as info, running a main of the new layout, with an empty memory, gets
// the report or conversion of backup (a whole saved database of this instrument: a dated backup
// of its number, or one a journal of directory names, unless otherInstrument) written in
// directory and, for grade "QH", the conversion back. ZEPHORdata.bin is left as it is. False,
// after saying why, when any of it is not so.
bool RestoreFromBackup(device::Station& station, const device::DeviceInfo& info,
                       const std::filesystem::path& directory, const std::filesystem::path& backup,
                       bool otherInstrument = false);

}  // namespace zephor::update
