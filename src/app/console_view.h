// A terminal view for the command-line tool: the log to standard output, message boxes to
// standard error, OK or Cancel answered by a preset answer or asked on the terminal.
#pragma once

#include <istream>
#include <ostream>
#include <string_view>

#include "app/preset_answers.h"
#include "app/updater_view.h"

namespace zephor::app {

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
      : out_(out), err_(err), in_(in), answers_(answer) {}

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

  // A question whose answer differs from the preset one (see PresetAnswers::AnswerFor).
  void AnswerFor(std::string_view question, ConsoleAnswer answer, int okLimit = -1) {
    answers_.AnswerFor(question, answer, okLimit);
  }

  bool exitRequested() const { return exitRequested_; }
  int exitCode() const { return exitCode_; }

 private:
  std::ostream& out_;
  std::ostream& err_;
  std::istream& in_;
  PresetAnswers answers_;
  ProgressSink* progress_ = nullptr;
  bool exitRequested_ = false;
  int exitCode_ = 0;
};

}  // namespace zephor::app
