// A scratch directory for crafted image files, removed when the test ends.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace zephor::update {

class TempDir {
 public:
  TempDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = "zephor_update_";
    if (info != nullptr) name += std::string(info->test_suite_name()) + "_" + info->name();
    // A table's test names hold slashes: one flat folder each, none left behind.
    std::replace(name.begin(), name.end(), '/', '_');
    // Its own folder also when another checkout runs the same test at the same time.
    path_ = std::filesystem::temp_directory_path() /
            (name + "_" + std::to_string(std::random_device{}()));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }

  void Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
    std::ofstream out(path_ / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }

 private:
  std::filesystem::path path_;
};

// Works in another folder for one scope: the window reads its images and writes its files in the
// working directory.
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const std::filesystem::path& dir)
      : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~WorkingDirectory() { std::filesystem::current_path(previous_); }
  WorkingDirectory(const WorkingDirectory&) = delete;
  WorkingDirectory& operator=(const WorkingDirectory&) = delete;

 private:
  std::filesystem::path previous_;
};

// Filler bytes that hold neither 'V' nor 'B', with text placed at an offset.
inline std::vector<std::uint8_t> Filler(std::size_t size) {
  return std::vector<std::uint8_t>(size, 'x');
}

inline void Place(std::vector<std::uint8_t>& bytes, std::size_t at, const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i)
    bytes.at(at + i) = static_cast<std::uint8_t>(text[i]);
}

}  // namespace zephor::update
