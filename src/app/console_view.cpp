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
  const ConsoleAnswer answer = answers_.AnswerTo(text);
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
  return IsOkReply(reply);
}

void ConsoleView::Exit(int code) {
  exitRequested_ = true;
  exitCode_ = code;
}

}  // namespace zephor::app
