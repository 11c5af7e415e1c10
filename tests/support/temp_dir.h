// A scratch folder for a test's files, named after the test and removed when it ends; and a
// working folder taken for one scope.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace zephor::support {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // Writes bytes as the file name in the folder, replacing what was there.
  void Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const;

 private:
  std::filesystem::path path_;
};

// Works in another folder for one scope: the window reads its images and writes its files in the
// working directory.
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const std::filesystem::path& dir);
  ~WorkingDirectory();
  WorkingDirectory(const WorkingDirectory&) = delete;
  WorkingDirectory& operator=(const WorkingDirectory&) = delete;

 private:
  std::filesystem::path previous_;
};

}  // namespace zephor::support

// The update tests and those built on them name them as their own.
namespace zephor::update {
using support::TempDir;
using support::WorkingDirectory;
}  // namespace zephor::update
