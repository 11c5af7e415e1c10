// The terminal view: log lines lose their carriage returns and leading tab stays as written.
#include "app/console_view.h"

#include <string>

namespace zephor::app {

void ConsoleView::AppendLog(std::string_view text) {
  if (progress_ != nullptr) progress_->MakeWay();
  for (const char c : text) {
    if (c != '\r') out_.put(c);
  }
  out_.flush();
}

bool ConsoleView::ShowMessage(std::string_view text, device::MessageButtons buttons) {
  if (progress_ != nullptr) progress_->MakeWay();
  err_ << text;
  if (text.empty() || text.back() != '\n') err_ << '\n';
  if (buttons == device::MessageButtons::kOk) {
    err_.flush();
    return true;
  }
  ConsoleAnswer answer = answer_;
  const auto found = specific_.find(text);
  if (found != specific_.end()) {
    Specific& specific = found->second;
    answer = specific.answer;
    if (answer == ConsoleAnswer::kOk && specific.okLeft >= 0) {
      if (specific.okLeft == 0) answer = ConsoleAnswer::kCancel;
      if (specific.okLeft > 0) --specific.okLeft;
    }
  }
  if (answer != ConsoleAnswer::kAsk) {
    const bool ok = answer == ConsoleAnswer::kOk;
    err_ << (ok ? "[OK]\n" : "[Cancel]\n");
    err_.flush();
    return ok;
  }
  err_ << "OK or Cancel? [o/c] ";
  err_.flush();
  std::string reply;
  if (!std::getline(in_, reply)) return false;  // no terminal answer counts as Cancel
  return !reply.empty() &&
         (reply[0] == 'o' || reply[0] == 'O' || reply[0] == 'y' || reply[0] == 'Y');
}

void ConsoleView::Exit(int code) {
  exitRequested_ = true;
  exitCode_ = code;
}

}  // namespace zephor::app
