// A panel that drops everything, and a scratch folder per fuzzing process.
#pragma once

#include <filesystem>
#include <random>
#include <string>

#include "device/operator_panel.h"

namespace zephor::database::fuzzing {

class QuietPanel final : public device::OperatorPanel {
 public:
  void AppendLog(std::string_view) override {}
  void ClearLog() override {}
  void SetProgress(int) override {}
  void SetProgressRange(int, int) override {}
  bool ShowMessage(std::string_view, device::MessageButtons) override { return true; }
  void ExitProgram(int) override {}
};

// In memory where the system has such a folder: every output file is synced to its disk, and a
// run writes thousands of them. Removed when the process ends.
class ScratchDirectory {
 public:
  explicit ScratchDirectory(const char* target) {
    // A name of its own for every process: workers of one target run side by side.
    const auto id = std::random_device{}();
    std::error_code ec;
    const std::filesystem::path memory = "/dev/shm";
    const auto base =
        std::filesystem::is_directory(memory, ec) ? memory : std::filesystem::temp_directory_path();
    path_ = base / (std::string("zephor_fuzz_") + target + "_" + std::to_string(id));
    std::filesystem::create_directories(path_);
  }
  ~ScratchDirectory() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace zephor::database::fuzzing
