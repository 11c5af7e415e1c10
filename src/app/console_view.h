// A terminal view for the command-line tool: the log to standard output, message boxes to
// standard error, OK or Cancel answered by a preset answer or asked on the terminal.
#pragma once

#include <istream>
#include <map>
#include <ostream>
#include <string>
#include <string_view>

#include "app/updater_view.h"

namespace zephor::app {

enum class ConsoleAnswer { kAsk, kOk, kCancel };

// Draws transfers and waits as they go, beside the log.
class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  virtual void Show(const device::ProgressEvent& event) = 0;
  // Another line is about to be printed: a line being redrawn in place makes way for it.
  virtual void MakeWay() = 0;
};

class ConsoleView final : public UpdaterView {
 public:
  ConsoleView(std::ostream& out, std::ostream& err, std::istream& in, ConsoleAnswer answer)
      : out_(out), err_(err), in_(in), answer_(answer) {}

  void AppendLog(std::string_view text) override;
  void ClearLog() override {}
  // The terminal already shows every line once; nothing is printed again.
  void SetLog(std::string_view) override {}
  void SetProgress(int) override {}
  bool ShowMessage(std::string_view text, device::MessageButtons buttons) override;
  // The port comes from the command line; there is no dialog to run.
  bool ChoosePort(int&) override { return false; }
  void Exit(int code) override;
  void PumpEvents() override {}
  void ShowProgress(const device::ProgressEvent& event) override {
    if (progress_ != nullptr) progress_->Show(event);
  }
  void SetProgressSink(ProgressSink* sink) { progress_ = sink; }

  // A question whose answer differs from the preset one: the erase of a memory without a backup
  // is never answered by a general "OK to everything". With okLimit set, an OK answer is given
  // that many times, then Cancel.
  void AnswerFor(std::string_view question, ConsoleAnswer answer, int okLimit = -1) {
    specific_[std::string(question)] = {answer, okLimit};
  }

  bool exitRequested() const { return exitRequested_; }
  int exitCode() const { return exitCode_; }

 private:
  std::ostream& out_;
  std::ostream& err_;
  std::istream& in_;
  ConsoleAnswer answer_;
  struct Specific {
    ConsoleAnswer answer;
    int okLeft;  // -1: no limit
  };
  std::map<std::string, Specific, std::less<>> specific_;
  ProgressSink* progress_ = nullptr;
  bool exitRequested_ = false;
  int exitCode_ = 0;
};

}  // namespace zephor::app
