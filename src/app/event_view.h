// The view of a run watched by another program (zephor fleet): everything it would show goes out
// as event lines, and a question nobody preset is answered by a reply line on the input.
#pragma once

#include <istream>
#include <ostream>
#include <string_view>

#include "app/event_stream.h"
#include "app/preset_answers.h"
#include "app/updater_view.h"

namespace zephor::app {

class EventView final : public UpdaterView {
 public:
  // A reply line too long to be an answer is told on err.
  EventView(std::ostream& out, std::ostream& err, std::istream& in, ConsoleAnswer answer)
      : out_(out), err_(err), replies_(in), answers_(answer) {}

  void AppendLog(std::string_view text) override;
  void ClearLog() override {}
  void SetLog(std::string_view) override {}
  void SetProgress(int) override {}
  bool ShowMessage(std::string_view text, device::MessageButtons buttons) override;
  bool ChoosePort(int&) override { return false; }
  void Exit(int code) override {
    exitRequested_ = true;
    exitCode_ = code;
  }
  void PumpEvents() override {}
  void ShowProgress(const device::ProgressEvent& event) override;

  // A question whose answer differs from the preset one (see PresetAnswers::AnswerFor).
  void AnswerFor(std::string_view question, ConsoleAnswer answer, int okLimit = -1) {
    answers_.AnswerFor(question, answer, okLimit);
  }
  bool exitRequested() const { return exitRequested_; }
  int exitCode() const { return exitCode_; }

 private:
  void Write(const RunEvent& event);

  std::ostream& out_;
  std::ostream& err_;
  ReplyLines replies_;
  PresetAnswers answers_;
  bool exitRequested_ = false;
  int exitCode_ = 0;
};

}  // namespace zephor::app
