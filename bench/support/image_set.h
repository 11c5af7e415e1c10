// The five image files of a full update, written for the benchmarks that run zephor on
// simulated instruments: boot and update 1.3, the newboot, the special main and main 1.40 build 7.
#pragma once

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

namespace zephor::bench {

inline constexpr std::size_t kStampAt = 16;
inline constexpr std::size_t kStampGap = 8;
inline constexpr std::size_t kStampWidth = 5;

// An image filled with its letter, with a version and a build stamp as the instrument reads them.
inline void WriteImage(const std::filesystem::path& dir, const char* name, std::size_t size,
                       char filler, const std::string& version, const std::string& build = {}) {
  std::string bytes(size, filler);
  std::size_t at = kStampAt;
  for (const auto& [marker, value] :
       {std::pair<std::string, std::string>{"Version xx", version}, {"Build xx", build}}) {
    if (value.empty()) continue;
    std::string text = marker + value;
    text.resize(marker.size() + kStampWidth, ' ');
    bytes.replace(at, text.size(), text);
    at += text.size() + kStampGap;
  }
  std::ofstream(dir / name, std::ios::binary) << bytes;
}

inline void WriteImageSet(const std::filesystem::path& dir) {
  WriteImage(dir, "newboot.bin", 260, 'n', "");
  WriteImage(dir, "boot.bin", 3000, 'b', "1.3");
  WriteImage(dir, "update.bin", 4200, 'u', "1.3");
  WriteImage(dir, "main1p29.bin", 2000, 's', "1.29");
  WriteImage(dir, "main.bin", 7000, 'm', "1.40", "7");
}

}  // namespace zephor::bench
