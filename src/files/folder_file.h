// Files of the working folder: read only when they are what they claim to be, written only as
// new files or through a fresh temporary, never through a link; what a later step relies on is
// synced to the disk before the call returns.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace zephor::files {

using Bytes = std::vector<std::uint8_t>;

// Reads path whole when it is a regular file of at most limit bytes and not a link; it is opened
// without blocking, so a FIFO or a device never holds the run. False with why set ("it is a
// link", "it is larger than 1048576 bytes") otherwise.
bool ReadRegularFile(const std::filesystem::path& path, std::uint64_t limit, Bytes& bytes,
                     std::string& why);

// Creates path as a new file (never over an existing name, never through a link), writes bytes
// and syncs the file and its folder. False with why set; a half-written file is removed.
bool CreateNewFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                   std::string& why);

// Writes bytes to a fresh temporary beside path, syncs it, renames it over path and syncs the
// folder: a reader finds the old or the new content, and a link at path is replaced, not
// followed. False with why set; path is then unchanged.
bool ReplaceContents(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                     std::string& why);

// A new file for a writer that streams: a stale file or link of that name is removed first (a
// link itself, never its target), then the name is created exclusively. nullptr with why set.
std::FILE* OpenNewFile(const std::filesystem::path& path, std::string& why);

// Flushes what the stream holds and syncs it to the disk; false with why set.
bool SyncStream(std::FILE* stream, std::string& why);

// How many bytes of an open stream's file are on the disk now (its size), for a message after a
// failed write; -1 when unknown.
long long StoredSize(std::FILE* stream);

// Renames from over to (a link at to is replaced) and syncs the folder; false with why set.
bool RenameDurably(const std::filesystem::path& from, const std::filesystem::path& to,
                   std::string& why);

// Removes the file (or a link itself) at path and syncs the folder, so that a name the next run
// would act on does not come back after a power cut. A name already gone is no failure. False
// with why set.
bool RemoveDurably(const std::filesystem::path& path, std::string& why);

// The last failure of a system call in words a technician reads: "the disk is full".
std::string LastErrorText();

}  // namespace zephor::files
