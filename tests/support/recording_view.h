// A view that records what the updater asks of the window.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/updater_view.h"

namespace zephor::app {

class RecordingView final : public UpdaterView {
 public:
  void AppendLog(std::string_view text) override {
    appended.emplace_back(text);
    shown.append(text);
  }
  void ClearLog() override {
    ++clears;
    shown.clear();
  }
  void SetLog(std::string_view text) override {
    ++setLogs;
    shown.assign(text);
  }
  void SetProgress(int percent) override { progress = percent; }
  void ShowStatus(std::string_view text) override {
    status.assign(text);
    statusLines.push_back({status, progress, caption});
  }
  void ShowCaption(std::string_view text) override { caption.assign(text); }
  bool ShowMessage(std::string_view text, device::MessageButtons) override {
    messages.emplace_back(text);
    return messageAnswer;
  }
  bool ChoosePort(int& portIndex) override {
    ++dialogRuns;
    dialogOpenedWith = portIndex;
    portIndex = dialogChoice;
    return dialogOk;
  }
  void Exit(int code) override { exitCodes.push_back(code); }
  void PumpEvents() override { ++pumps; }

  std::vector<std::string> appended;
  std::string shown;  // what the log box would show
  int clears = 0;
  int setLogs = 0;
  int progress = -1;
  std::string status;
  std::string caption;
  // Each status line drawn, with the bar and the title beside it then.
  struct Shown {
    std::string status;
    int bar;
    std::string caption;
  };
  std::vector<Shown> statusLines;
  std::vector<std::string> messages;
  bool messageAnswer = true;
  int dialogRuns = 0;
  int dialogOpenedWith = -1;
  int dialogChoice = 0;
  bool dialogOk = false;
  std::vector<int> exitCodes;
  int pumps = 0;
};

}  // namespace zephor::app
