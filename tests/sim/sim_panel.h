// Records what the operations show, for tests against the simulated instrument.
#pragma once

#include <string>
#include <vector>

#include "device/operator_panel.h"

namespace zephor::sim {

class SimPanel final : public device::OperatorPanel {
 public:
  void AppendLog(std::string_view text) override { log.append(text); }
  void ClearLog() override { log.clear(); }
  void SetProgress(int) override {}
  void SetProgressRange(int, int) override {}
  bool ShowMessage(std::string_view text, device::MessageButtons) override {
    messages.emplace_back(text);
    return true;
  }
  void ExitProgram(int) override {}

  std::string log;
  std::vector<std::string> messages;
};

}  // namespace zephor::sim
