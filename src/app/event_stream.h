// What a run tells the program that watches it (zephor fleet), one JSON object a line: its log,
// the progress of its transfers and waits, its message boxes with their answers, and the
// questions it waits to have answered, one reply line each, on its standard input.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "app/preset_answers.h"
#include "device/progress_event.h"

namespace zephor::app {

// The reply lines a waiting question takes.
inline constexpr char kOkReply[] = "ok";
inline constexpr char kCancelReply[] = "cancel";

struct RunEvent {
  enum class Kind {
    kLog,       // text: a log line as the run wrote it
    kProgress,  // progress
    kMessage,   // text: a message box; question and answer say how it was answered
    kText,      // text: a line that is no event (a run's word on standard error)
  };
  Kind kind = Kind::kText;
  std::string text;
  device::ProgressEvent progress;
  bool question = false;  // OK and Cancel, not OK alone
  // The preset answer the run gave, or kAsk when it waits for a reply line.
  ConsoleAnswer answer = ConsoleAnswer::kOk;
};

// One line, without its line feed. Bytes that are no UTF-8 travel as replacement characters.
std::string EncodeRunEvent(const RunEvent& event);

// The event a line holds; a line that holds none is kText with the line as it came.
RunEvent DecodeRunEvent(std::string_view line);

// A run that zephor fleet plans the folder of identifies its instrument first and tells what it
// found in one line: the text zephor info --json prints. Nothing when the line holds none.
std::string EncodeIdentityLine(const std::string& infoJson);
std::optional<std::string> DecodeIdentityLine(std::string_view line);

// The fleet's answer to it: the working folder, on the run's input. Nothing when the line holds
// none (the instrument is not updated).
std::string EncodeFolderLine(const std::filesystem::path& folder);
std::optional<std::filesystem::path> DecodeFolderLine(std::string_view line);

}  // namespace zephor::app
