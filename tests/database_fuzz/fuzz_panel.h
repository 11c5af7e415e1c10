// A panel that drops everything, and a scratch directory per fuzzing process.
#pragma once

#include <filesystem>
#include <string>
#include <thread>

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
// run writes thousands of them.
inline std::filesystem::path ScratchDirectory(const char* target) {
  const auto id = std::hash<std::thread::id>{}(std::this_thread::get_id());
  std::error_code ec;
  const std::filesystem::path memory = "/dev/shm";
  const auto base =
      std::filesystem::is_directory(memory, ec) ? memory : std::filesystem::temp_directory_path();
  auto path = base / (std::string("zephor_fuzz_") + target + "_" + std::to_string(id));
  std::filesystem::create_directories(path);
  return path;
}

}  // namespace zephor::database::fuzzing
