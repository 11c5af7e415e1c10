// File lookup for the sender: the first regular file matched by one of the patterns.
#include "transfer/file_lookup.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace zephor::transfer {
namespace {

bool IsSeparator(char c) {
  return c == ',' || c == ';' || std::isspace(static_cast<unsigned char>(c)) != 0;
}

char Fold(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// Takes the next pattern off the front of the remaining text; empty when none is left.
std::string NextPattern(std::string& remaining) {
  std::size_t start = 0;
  while (start < remaining.size() && IsSeparator(remaining[start])) ++start;
  std::size_t end = start;
  while (end < remaining.size() && !IsSeparator(remaining[end])) ++end;
  std::string pattern = remaining.substr(start, std::min(end - start, kPatternLimit));
  remaining.erase(0, end);
  return pattern;
}

bool IsPlainFile(files::Disk& disk, const std::string& path) {
  files::NameStatus status;
  std::string why;
  return disk.Status(path, status, why) && status.kind == files::EntryKind::kFile;
}

// Names in the directory that match, the exact spelling first, then in name order.
bool FindInDirectory(files::Disk& disk, FileSource& source) {
  const bool wild = source.namePattern.find_first_of("*?") != std::string::npos;
  if (!wild && IsPlainFile(disk, source.directory + source.namePattern)) {
    source.foundPath = source.directory + source.namePattern;
    return true;
  }
  std::vector<files::Entry> entries;
  std::string why;
  if (!disk.List(source.directory.empty() ? std::string(".") : source.directory, entries, why)) {
    return false;
  }
  std::vector<std::string> names;
  for (const files::Entry& entry : entries) {
    if (entry.kind == files::EntryKind::kFolder) continue;
    if (MatchName(source.namePattern, entry.name)) names.push_back(entry.name);
  }
  if (names.empty()) return false;
  std::sort(names.begin(), names.end());
  source.foundPath = source.directory + names.front();
  return true;
}

}  // namespace

bool MatchName(const std::string& pattern, const std::string& name) {
  std::size_t p = 0;
  std::size_t n = 0;
  std::size_t starAt = std::string::npos;
  std::size_t resumeAt = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starAt = p++;
      resumeAt = n;
    } else if (p < pattern.size() && (pattern[p] == '?' || Fold(pattern[p]) == Fold(name[n]))) {
      ++p;
      ++n;
    } else if (starAt != std::string::npos) {
      p = starAt + 1;
      n = ++resumeAt;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool LookUpFile(files::Disk& disk, FileSource& source) {
  for (;;) {
    const std::string pattern = NextPattern(source.remaining);
    // The directory part ends at the last path separator, or else at a drive colon.
    std::size_t cut = pattern.find_last_of("\\/");
    if (cut == std::string::npos) cut = pattern.find_last_of(':');
    const std::size_t split = cut == std::string::npos ? 0 : cut + 1;
    source.directory = pattern.substr(0, std::min(split, kPatternLimit));
    source.namePattern = pattern.substr(split);
    if (source.namePattern.empty()) return false;
    if (FindInDirectory(disk, source)) return true;
  }
}

}  // namespace zephor::transfer
