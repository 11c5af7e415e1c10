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

inline std::filesystem::path ScratchDirectory(const char* target) {
  const auto id = std::hash<std::thread::id>{}(std::this_thread::get_id());
  auto path = std::filesystem::temp_directory_path() /
              (std::string("zephor_fuzz_") + target + "_" + std::to_string(id));
  std::filesystem::create_directories(path);
  return path;
}

}  // namespace zephor::database::fuzzing
