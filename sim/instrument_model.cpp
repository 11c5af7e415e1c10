// The instrument's answers to the command conversation, its loader letters and its faults.
#include "sim/instrument_model.h"

#include <cstdio>

namespace zephor::sim {
namespace {

constexpr char kEraseCommand[] = "erase 40718293";
// A waiting loader repeats its letter until a program comes.
constexpr std::uint32_t kLoaderLetterPeriodMs = 500;
// 9600 baud with a start and a stop bit: 0.96 bytes a millisecond.
constexpr double kPacedBytesPerMs = 9600.0 / 10.0 / 1000.0;
constexpr char kTooLongReply[] = "OK-THIS-REPLY-IS-FAR-TOO-LONG\n>";

}  // namespace

bool ParseFault(const std::string& name, Fault& fault) {
  if (name == "none")
    fault = Fault::kNone;
  else if (name == "silent")
    fault = Fault::kSilent;
  else if (name == "ok-crlf")
    fault = Fault::kOkWithCrLf;
  else if (name == "long-reply")
    fault = Fault::kLongReply;
  else if (name == "never-ready")
    fault = Fault::kNeverReady;
  else
    return false;
  return true;
}

std::string InstrumentModel::SystemReport() const {
  char text[400];
  // Numbers are padded with blanks: the identification reads them with "%li", which takes a
  // leading zero for octal. Boot and update versions take three characters, main four, and the
  // grade stands three blanks after the main version.
  std::snprintf(text, sizeof text,
                "\r\nZEPHOR - %-9ld\r\n"
                "PCB: %c%-8ld  ISSUE: %02d\r\n"
                "BOOT Version         : V%-3s\r\n"
                "UPDATE Version       : V%-3s\r\n"
                "MAIN Version         : V%-4s   %-2s\r\n"
                "Build                : %-3d\r\n",
                state_.equipmentNumber, state_.cardIssue == 2 ? 'A' : ' ', state_.cardNumber,
                state_.cardIssue, state_.bootVersion.c_str(), state_.updateVersion.c_str(),
                state_.mainVersion.c_str(), state_.grade.c_str(), state_.build);
  return text;
}

void InstrumentModel::Send(const std::string& text) {
  output_.insert(output_.end(), text.begin(), text.end());
}

void InstrumentModel::Receive(std::uint8_t byte, std::uint32_t) {
  if (byte != '\n') {
    if (line_.size() < 200) line_.push_back(static_cast<char>(byte));
    return;
  }
  std::string command;
  command.swap(line_);
  if (!command.empty() && command.back() == '\r') command.pop_back();
  Execute(command);
}

void InstrumentModel::Execute(const std::string& command) {
  commands_.push_back(command);
  if (log_) log_("command \"" + command + "\"");
  if (fault_ == Fault::kSilent || state_.missingProgram != 0) return;
  if (command == "UNLOCK") {
    unlocked_ = true;
    if (fault_ == Fault::kOkWithCrLf)
      Send("OK\r\n");
    else if (fault_ == Fault::kLongReply)
      Send(kTooLongReply);
    else
      Send("OK\n>");
    return;
  }
  if (!unlocked_) return;  // a locked instrument ignores everything but UNLOCK
  if (command == "system") {
    Send(SystemReport());
    Send("\r\n>");
  } else if (command == "LOCK") {
    unlocked_ = false;
    Send("OK\r\n");
  } else if (command == kEraseCommand) {
    state_.memory.clear();
    Send("OK\r\n");
  } else {
    Send("?\r\n");
  }
}

std::vector<std::uint8_t> InstrumentModel::Transmit(std::uint32_t nowMs) {
  std::vector<std::uint8_t> out;
  if (state_.missingProgram != 0 && fault_ != Fault::kSilent &&
      (!letterSent_ || nowMs - lastLetterMs_ >= kLoaderLetterPeriodMs)) {
    letterSent_ = true;
    lastLetterMs_ = nowMs;
    output_.push_back(static_cast<std::uint8_t>(state_.missingProgram));
  }
  if (!paced_) {
    out.assign(output_.begin(), output_.end());
    output_.clear();
    return out;
  }
  pacingCredit_ += kPacedBytesPerMs * static_cast<double>(nowMs - lastTransmitMs_);
  lastTransmitMs_ = nowMs;
  while (pacingCredit_ >= 1.0 && !output_.empty()) {
    out.push_back(output_.front());
    output_.pop_front();
    pacingCredit_ -= 1.0;
  }
  if (output_.empty() && pacingCredit_ > 1.0) pacingCredit_ = 1.0;
  return out;
}

}  // namespace zephor::sim
