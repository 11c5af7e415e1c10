// A limited OK counts down on every question it answers.
#include "app/preset_answers.h"

#include <limits>
#include <string>

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

ReplyLines::Read ReplyLines::Next(std::string& reply) {
  using Traits = std::istream::traits_type;
  constexpr char kLineFeed = '\n';
  reply.clear();
  if (skipping_) {
    in_.ignore(std::numeric_limits<std::streamsize>::max(), kLineFeed);
    skipping_ = false;
  }
  bool begun = false;
  for (Traits::int_type c = in_.get(); !Traits::eq_int_type(c, Traits::eof()); c = in_.get()) {
    begun = true;
    if (Traits::to_char_type(c) == kLineFeed) return Read::kLine;
    if (reply.size() == kReplyLineLimit) {
      reply.clear();
      skipping_ = true;
      return Read::kTooLong;
    }
    reply.push_back(Traits::to_char_type(c));
  }
  // A last line without its line feed is still a reply.
  return begun ? Read::kLine : Read::kEnd;
}

}  // namespace zephor::app
