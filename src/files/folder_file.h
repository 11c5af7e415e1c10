// Files of the working folder: read only when they are what they claim to be, written only as
// new files or through a fresh temporary, never through a link; what a later step relies on is
// synced to the disk before the call returns. Every step goes through the Disk it is given.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "files/disk.h"

namespace zephor::files {

using Bytes = std::vector<std::uint8_t>;

// Reads path whole when it is a regular file of at most limit bytes and not a link; it is opened
// without blocking, so a FIFO or a device never holds the run. False with why set ("it is a
// link", "it is larger than 1048576 bytes") otherwise.
bool ReadRegularFile(Disk& disk, const std::filesystem::path& path, std::uint64_t limit,
                     Bytes& bytes, std::string& why);

// Creates path as a new file (never over an existing name, never through a link), writes bytes
// and syncs the file and its folder. False with why set; a half-written file is removed.
bool CreateNewFile(Disk& disk, const std::filesystem::path& path,
                   std::span<const std::uint8_t> bytes, std::string& why);

// Writes bytes to a fresh temporary beside path, syncs it, renames it over path and syncs the
// folder: a reader finds the old or the new content, and a link at path is replaced, not
// followed. False with why set; path is then unchanged.
bool ReplaceContents(Disk& disk, const std::filesystem::path& path,
                     std::span<const std::uint8_t> bytes, std::string& why);

// A new file for a writer that streams: a stale file or link of that name is removed first (a
// link itself, never its target), then the name is created exclusively. nullptr with why set.
// The writer syncs it with DiskFile::Sync before it relies on it, and learns with
// DiskFile::Size how much reached the file after a failed write.
std::unique_ptr<DiskFile> OpenNewFile(Disk& disk, const std::filesystem::path& path,
                                      std::string& why);

// Renames from over to (a link at to is replaced) and syncs the folder; false with why set.
bool RenameDurably(Disk& disk, const std::filesystem::path& from, const std::filesystem::path& to,
                   std::string& why);

// Removes path and syncs its folder, so the name cannot come back after a power cut. A name
// already gone counts as removed: an earlier removal that was never synced is synced now.
bool RemoveDurably(Disk& disk, const std::filesystem::path& path, std::string& why);

// Makes folder and every missing folder above it (no sync: an empty folder holds nothing a
// later step relies on); false with why set.
bool MakeFolders(Disk& disk, const std::filesystem::path& folder, std::string& why);

// The same steps on the system's disk, for callers not yet handed a disk of their own.
bool ReadRegularFile(const std::filesystem::path& path, std::uint64_t limit, Bytes& bytes,
                     std::string& why);
bool CreateNewFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                   std::string& why);
bool ReplaceContents(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                     std::string& why);
bool RenameDurably(const std::filesystem::path& from, const std::filesystem::path& to,
                   std::string& why);
bool RemoveDurably(const std::filesystem::path& path, std::string& why);

}  // namespace zephor::files
