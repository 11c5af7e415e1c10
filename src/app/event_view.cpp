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
  if (!std::getline(in_, reply)) return false;  // the watcher is gone: Cancel
  return reply == kOkReply;
}

void EventView::ShowProgress(const device::ProgressEvent& progress) {
  RunEvent event;
  event.kind = RunEvent::Kind::kProgress;
  event.progress = progress;
  Write(event);
}

}  // namespace zephor::app
