// The event lines: short field names, every field read back with its type checked, so a line
// cut short or from elsewhere is plain text, never a failure.
#include "app/event_stream.h"

#include <array>
#include <nlohmann/json.hpp>
#include <utility>

namespace zephor::app {
namespace {

using json = nlohmann::json;
using device::ProgressKind;

constexpr std::array<std::pair<ProgressKind, const char*>, 6> kKindNames{{
    {ProgressKind::kTransferPlanned, "transferPlanned"},
    {ProgressKind::kTransferStart, "transferStart"},
    {ProgressKind::kTransferStep, "transferStep"},
    {ProgressKind::kTransferEnd, "transferEnd"},
    {ProgressKind::kWaitStart, "waitStart"},
    {ProgressKind::kWaitEnd, "waitEnd"},
}};
constexpr std::array<std::pair<ConsoleAnswer, const char*>, 3> kAnswerNames{{
    {ConsoleAnswer::kOk, kOkReply},
    {ConsoleAnswer::kCancel, kCancelReply},
    {ConsoleAnswer::kAsk, "ask"},
}};

template <typename Value>
Value Field(const json& object, const char* name, Value fallback) {
  const auto found = object.find(name);
  if (found == object.end()) return fallback;
  if constexpr (std::is_same_v<Value, bool>) {
    return found->is_boolean() ? found->get<bool>() : fallback;
  } else if constexpr (std::is_same_v<Value, std::string>) {
    return found->is_string() ? found->get<std::string>() : fallback;
  } else {
    return found->is_number_integer() ? found->get<Value>() : fallback;
  }
}

json ProgressObject(const device::ProgressEvent& event) {
  const char* kind = "";
  for (const auto& [value, name] : kKindNames) {
    if (value == event.kind) kind = name;
  }
  return {{"kind", kind},           {"subject", event.subject},  {"sending", event.sending},
          {"bytes", event.bytes},   {"total", event.totalBytes}, {"resent", event.blocksResent},
          {"result", event.result}, {"limitMs", event.limitMs},  {"tickMs", event.tickMs}};
}

bool ReadProgress(const json& object, device::ProgressEvent& event) {
  const std::string kind = Field<std::string>(object, "kind", "");
  bool known = false;
  for (const auto& [value, name] : kKindNames) {
    if (kind == name) {
      event.kind = value;
      known = true;
    }
  }
  event.subject = Field<std::string>(object, "subject", "");
  event.sending = Field(object, "sending", false);
  event.bytes = Field(object, "bytes", 0L);
  event.totalBytes = Field(object, "total", 0L);
  event.blocksResent = Field(object, "resent", 0L);
  event.result = Field(object, "result", 0);
  event.limitMs = Field(object, "limitMs", std::uint32_t{0});
  event.tickMs = Field(object, "tickMs", std::uint32_t{0});
  return known;
}

}  // namespace

std::string EncodeRunEvent(const RunEvent& event) {
  json line;
  switch (event.kind) {
    case RunEvent::Kind::kLog:
      line = {{"log", event.text}};
      break;
    case RunEvent::Kind::kProgress:
      line = {{"progress", ProgressObject(event.progress)}};
      break;
    case RunEvent::Kind::kMessage: {
      line = {{"message", event.text}, {"question", event.question}};
      for (const auto& [value, name] : kAnswerNames) {
        if (value == event.answer) line["answer"] = name;
      }
      break;
    }
    case RunEvent::Kind::kText:
      return event.text;
  }
  return line.dump(-1, ' ', false, json::error_handler_t::replace);
}

RunEvent DecodeRunEvent(std::string_view line) {
  RunEvent event;
  event.text = std::string(line);
  const json object = json::parse(line, nullptr, false);
  if (!object.is_object()) return event;
  if (object.contains("log") && object["log"].is_string()) {
    event.kind = RunEvent::Kind::kLog;
    event.text = object["log"].get<std::string>();
  } else if (object.contains("progress") && object["progress"].is_object()) {
    if (ReadProgress(object["progress"], event.progress)) event.kind = RunEvent::Kind::kProgress;
  } else if (object.contains("message") && object["message"].is_string()) {
    event.kind = RunEvent::Kind::kMessage;
    event.text = object["message"].get<std::string>();
    event.question = Field(object, "question", false);
    const std::string answer = Field<std::string>(object, "answer", kOkReply);
    for (const auto& [value, name] : kAnswerNames) {
      if (answer == name) event.answer = value;
    }
  }
  return event;
}

namespace {

std::string OneFieldLine(const char* name, const std::string& text) {
  return json{{name, text}}.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::optional<std::string> OneFieldOf(std::string_view line, const char* name) {
  const json object = json::parse(line, nullptr, false);
  if (!object.is_object() || object.size() != 1) return std::nullopt;
  const auto found = object.find(name);
  if (found == object.end() || !found->is_string()) return std::nullopt;
  return found->get<std::string>();
}

constexpr char kIdentityField[] = "identity";
constexpr char kFolderField[] = "folder";

}  // namespace

std::string EncodeIdentityLine(const std::string& infoJson) {
  return OneFieldLine(kIdentityField, infoJson);
}

std::optional<std::string> DecodeIdentityLine(std::string_view line) {
  return OneFieldOf(line, kIdentityField);
}

std::string EncodeFolderLine(const std::filesystem::path& folder) {
  return OneFieldLine(kFolderField, folder.string());
}

std::optional<std::filesystem::path> DecodeFolderLine(std::string_view line) {
  const std::optional<std::string> folder = OneFieldOf(line, kFolderField);
  if (!folder || folder->empty()) return std::nullopt;
  return std::filesystem::path(*folder);
}

}  // namespace zephor::app
