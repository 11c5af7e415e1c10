// What the instrument's measurement memory holds now, learned from the instrument: before an
// erase is taken for done, before a write-back and before a backup is written back, the run asks
// the instrument instead of trusting its own record.
#pragma once

#include <cstdint>
#include <filesystem>

#include "device/operator_panel.h"
#include "files/folder_file.h"
#include "update/run_journal.h"

namespace zephor::update {

// The file a memory that is only checked is received into; it is removed once the check is done,
// so that ZEPHORdata.bin always holds the last saved database.
inline constexpr const char* kMemoryCheckFileName = "ZEPHORmemory.bin";

// What a download of the memory came to.
enum class MemoryRead {
  kEmpty,   // the instrument announced an empty memory
  kRead,    // the memory arrived whole and was read back from its file
  kFailed,  // no answer, a failed transfer, a stop, or a file that cannot be read back
};

// Asks the instrument for its memory and receives it whole into directory/fileName, then reads
// the file back into bytes. The announced length is set to an impossible value first, so that a
// stale answer never reads as an empty memory. A download is never stopped half way: the
// instrument's answer to that is not known.
MemoryRead ReadMemory(device::Station& station, int portIndex,
                      const std::filesystem::path& directory, const char* fileName,
                      files::Bytes& bytes);

// What the memory was found to hold, against the files the folder proves.
enum class MemoryHolds {
  kEmpty,
  kBackup,      // exactly the dated backup of the surveys
  kConversion,  // the conversion that was written back (the last block's padding aside)
  kOther,       // anything else: kept as a new dated backup, never overwritten
  kUnknown,     // it could not be read: nothing may be decided from it
};

struct MemoryFound {
  MemoryHolds holds = MemoryHolds::kUnknown;
  FileFacts kept;  // kOther: the dated backup its bytes are kept in (empty when none could be)
};

// Downloads the memory into a file of its own and tells what it holds. backup and conversion,
// when given, name files in directory whose contents the memory is compared with. A memory that
// holds anything else is kept as a dated backup of equipmentNumber (an existing one with the same
// bytes is named instead of a second copy).
MemoryFound ProbeMemory(device::Station& station, int portIndex,
                        const std::filesystem::path& directory, std::int32_t equipmentNumber,
                        const FileFacts* backup, const FileFacts* conversion);

// True when downloaded bytes are the conversion whose facts are given: the instrument announced
// its length and the bytes begin with it; the rest is the last block's padding.
bool MemoryIsConversion(const device::Station& station, const files::Bytes& bytes,
                        const FileFacts& conversion);

}  // namespace zephor::update
