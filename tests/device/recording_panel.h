// An operator panel that records log text, progress positions and message boxes, with the
// virtual time at which each box appeared.
#pragma once

#include <cstdint>
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
  void SetProgress(int position) override { progress.push_back(position); }
  void SetProgressRange(int low, int high) override {
    rangeLow = low;
    rangeHigh = high;
  }
  bool ShowMessage(std::string_view text, MessageButtons buttons) override {
    messages.emplace_back(text);
    messageButtons.push_back(buttons);
    messageTimes.push_back(timing_ != nullptr ? timing_->now() : 0);
    logAtMessage.push_back(log);
    return true;
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

 private:
  const serial::VirtualTiming* timing_;
};

}  // namespace zephor::device
