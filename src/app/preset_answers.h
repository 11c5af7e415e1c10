// The answers a run without a person at the screen gives to OK/Cancel questions: one for every
// question, and their own for the few that must not be answered blindly.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace zephor::app {

enum class ConsoleAnswer { kAsk, kOk, kCancel };

class PresetAnswers {
 public:
  explicit PresetAnswers(ConsoleAnswer answer) : answer_(answer) {}

  // A question whose answer differs from the preset one: the erase of a memory without a backup
  // is never answered by a general "OK to everything". With okLimit set, an OK answer is given
  // that many times, then Cancel.
  void AnswerFor(std::string_view question, ConsoleAnswer answer, int okLimit = -1) {
    specific_[std::string(question)] = {answer, okLimit};
  }

  // The answer to this question now: OK, Cancel, or kAsk when the operator must answer it.
  ConsoleAnswer AnswerTo(std::string_view question);

 private:
  struct Specific {
    ConsoleAnswer answer;
    int okLeft;  // -1: no limit
  };
  ConsoleAnswer answer_;
  std::map<std::string, Specific, std::less<>> specific_;
};

// An operator's reply typed on a terminal: o, O, y or Y first is OK, anything else Cancel.
bool IsOkReply(std::string_view reply);

}  // namespace zephor::app
