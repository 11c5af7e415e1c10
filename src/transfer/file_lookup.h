// The sender's file list: patterns separated by blanks, commas or semicolons.
#pragma once

#include <string>

#include "files/disk.h"

namespace zephor::transfer {

// Longest pattern, directory part or name pattern taken from a file list.
inline constexpr std::size_t kPatternLimit = 256;

// Turns a file list into the path of the first file it names.
struct FileSource {
  std::string remaining;    // file list text not yet consumed
  std::string directory;    // directory part of the current pattern
  std::string namePattern;  // name part of the current pattern, may hold * and ?
  std::string foundPath;    // directory part followed by the name found
};

// True when name matches pattern (* any run, ? one character), without regard to letter case.
bool MatchName(const std::string& pattern, const std::string& name);

// Finds on disk the first file named by the file list (anything but a folder: the open that
// follows refuses what is no plain file); false when none matches.
bool LookUpFile(files::Disk& disk, FileSource& source);

}  // namespace zephor::transfer
