// Each event is one flushed line, so the watcher sees it as it happens.
#include "app/event_view.h"

#include <string>

namespace zephor::app {

void EventView::Write(const RunEvent& event) {
  out_ << EncodeRunEvent(event) << '\n';
  out_.flush();
}

void EventView::AppendLog(std::string_view text) {
  RunEvent event;
  event.kind = RunEvent::Kind::kLog;
  event.text = std::string(text);
  Write(event);
}

bool EventView::ShowMessage(std::string_view text, device::MessageButtons buttons) {
  RunEvent event;
  event.kind = RunEvent::Kind::kMessage;
  event.text = std::string(text);
  event.question = buttons == device::MessageButtons::kOkCancel;
  event.answer = event.question ? answers_.AnswerTo(text) : ConsoleAnswer::kOk;
  Write(event);
  if (event.answer != ConsoleAnswer::kAsk) return event.answer == ConsoleAnswer::kOk;
  std::string reply;
  switch (replies_.Next(reply)) {
    case ReplyLines::Read::kLine:
      return reply == kOkReply;
    case ReplyLines::Read::kTooLong:
      err_ << kReplyTooLongText << '\n';
      err_.flush();
      return false;
    case ReplyLines::Read::kEnd:
      break;
  }
  return false;  // the watcher is gone: Cancel
}

void EventView::ShowProgress(const device::ProgressEvent& progress) {
  RunEvent event;
  event.kind = RunEvent::Kind::kProgress;
  event.progress = progress;
  Write(event);
}

}  // namespace zephor::app
