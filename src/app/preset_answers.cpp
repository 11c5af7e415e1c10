// A limited OK counts down on every question it answers.
#include "app/preset_answers.h"

namespace zephor::app {

ConsoleAnswer PresetAnswers::AnswerTo(std::string_view question) {
  const auto found = specific_.find(question);
  if (found == specific_.end()) return answer_;
  Specific& specific = found->second;
  if (specific.answer != ConsoleAnswer::kOk || specific.okLeft < 0) return specific.answer;
  if (specific.okLeft == 0) return ConsoleAnswer::kCancel;
  --specific.okLeft;
  return ConsoleAnswer::kOk;
}

bool IsOkReply(std::string_view reply) {
  return !reply.empty() &&
         (reply[0] == 'o' || reply[0] == 'O' || reply[0] == 'y' || reply[0] == 'Y');
}

}  // namespace zephor::app
