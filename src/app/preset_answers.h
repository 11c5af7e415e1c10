// The answers a run without a person at the screen gives to OK/Cancel questions: one for every
// question, and their own for the few that must not be answered blindly.
#pragma once

#include <cstddef>
#include <functional>
#include <istream>
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

// The longest reply line kept; a reply is a word, and a longer line must not cost the memory
// it would take to hold it.
inline constexpr std::size_t kReplyLineLimit = 4096;
inline constexpr char kReplyTooLongText[] =
    "An answer line on standard input is longer than 4 096 bytes: it is taken as Cancel.";

// Reply lines as they come, each at most kReplyLineLimit bytes. A longer line is answered at once
// (kTooLong), without waiting for its end: the rest of it is skipped before the next reply.
class ReplyLines {
 public:
  enum class Read { kLine, kTooLong, kEnd };
  explicit ReplyLines(std::istream& in) : in_(in) {}

  // The next reply, without its line feed; kEnd when the input has ended before one began.
  Read Next(std::string& reply);

 private:
  std::istream& in_;
  bool skipping_ = false;  // the rest of a too long line is still to come
};

}  // namespace zephor::app
