// An operator panel that records what the operations show: log text, progress positions and
// message boxes, with the virtual time at which each box appeared and the log as it stood then.
// OK and Cancel boxes are answered as the test says, and a test may act while one waits.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "device/operator_panel.h"
#include "serial/memory_line.h"

namespace zephor::device {

class RecordingPanel final : public OperatorPanel {
 public:
  explicit RecordingPanel(const serial::VirtualTiming* timing = nullptr) : timing_(timing) {}

  void AppendLog(std::string_view text) override { log += text; }
  void ClearLog() override {
    log.clear();
    ++clears;
  }
  void SetProgress(int position) override {
    progress.push_back(position);
    if (onProgress) onProgress(position);
  }
  void SetProgressRange(int low, int high) override {
    rangeLow = low;
    rangeHigh = high;
  }
  bool ShowMessage(std::string_view text, MessageButtons buttons) override {
    messages.emplace_back(text);
    messageButtons.push_back(buttons);
    messageTimes.push_back(timing_ != nullptr ? timing_->now() : 0);
    logAtMessage.push_back(log);
    if (buttons != MessageButtons::kOk && onQuestion) onQuestion();
    return buttons == MessageButtons::kOk || answerOk;
  }
  void ExitProgram(int code) override { exitCodes.push_back(code); }

  std::string log;
  int clears = 0;
  std::vector<int> progress;
  int rangeLow = 0;
  int rangeHigh = 0;
  std::vector<std::string> messages;
  std::vector<MessageButtons> messageButtons;
  std::vector<std::uint32_t> messageTimes;
  std::vector<std::string> logAtMessage;  // the log as it stood when each box appeared
  std::vector<int> exitCodes;
  bool answerOk = true;                 // the operator's answer to OK and Cancel boxes
  std::function<void(int)> onProgress;  // called with each position as it is set
  std::function<void()> onQuestion;     // called while an OK and Cancel box waits

 private:
  const serial::VirtualTiming* timing_;
};

}  // namespace zephor::device

// The update tests and those built on them name it as their own.
namespace zephor::update {
using device::RecordingPanel;
}  // namespace zephor::update
