// An operator panel that records what the update operations show, for the update tests.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "device/operator_panel.h"

namespace zephor::update {

class RecordingPanel final : public device::OperatorPanel {
 public:
  void AppendLog(std::string_view text) override { log += text; }
  void ClearLog() override { log.clear(); }
  void SetProgress(int position) override { progress.push_back(position); }
  void SetProgressRange(int low, int high) override {
    rangeLow = low;
    rangeHigh = high;
  }
  bool ShowMessage(std::string_view text, device::MessageButtons) override {
    messages.emplace_back(text);
    return true;
  }
  void ExitProgram(int code) override { exitCodes.push_back(code); }

  std::string log;
  std::vector<int> progress;
  int rangeLow = 0;
  int rangeHigh = 0;
  std::vector<std::string> messages;
  std::vector<int> exitCodes;
};

}  // namespace zephor::update
