// A failed file operation in the words a technician reads.
#pragma once

#include <cstdint>
#include <string>
#include <system_error>

namespace zephor::files {

inline constexpr const char* kIsLinkText = "it is a link";
inline constexpr const char* kIsFolderText = "it is a folder";
inline constexpr const char* kNotRegularText =
    "it is not a plain file (a device, a pipe or a socket)";
inline constexpr const char* kInTheWayText = "another file or folder of that name is in the way";

// "the disk is full", "access denied", ...; the system's own text for the rest.
std::string ErrnoText(int error);

// The same words for a failure the standard library reports.
std::string ErrorCodeText(const std::error_code& error);

// "it is larger than 1048576 bytes".
std::string TooLargeText(std::uint64_t limit);

}  // namespace zephor::files
