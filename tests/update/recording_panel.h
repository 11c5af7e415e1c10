// An operator panel that records what the update operations show, for the update tests.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "device/operator_panel.h"

namespace zephor::update {

class RecordingPanel final : public device::OperatorPanel {
 public:
  void AppendLog(std::string_view text) override { log += text; }
  void ClearLog() override { log.clear(); }
  void SetProgress(int position) override {
    progress.push_back(position);
    if (onProgress) onProgress(position);
  }
  void SetProgressRange(int low, int high) override {
    rangeLow = low;
    rangeHigh = high;
  }
  bool ShowMessage(std::string_view text, device::MessageButtons buttons) override {
    messages.emplace_back(text);
    if (buttons != device::MessageButtons::kOk && onQuestion) onQuestion();
    return buttons == device::MessageButtons::kOk || answerOk;
  }
  void ExitProgram(int code) override { exitCodes.push_back(code); }

  std::string log;
  std::vector<int> progress;
  int rangeLow = 0;
  int rangeHigh = 0;
  std::vector<std::string> messages;
  std::vector<int> exitCodes;
  bool answerOk = true;                 // the operator's answer to OK and Cancel boxes
  std::function<void(int)> onProgress;  // called with each position as it is set
  std::function<void()> onQuestion;     // called while an OK and Cancel box waits
};

}  // namespace zephor::update
