// The instrument's answers to the command conversation; the loader and the memory transfers take
// the line while they run.
#include "sim/instrument_model.h"

#include <cstdio>
#include <cstring>

namespace zephor::sim {
namespace {

constexpr std::uint8_t kBackspace = 0x08;

constexpr char kEraseCommand[] = "erase 40718293";
constexpr char kUpdateBanner[] = ".QLX International Update Sequence...";
constexpr std::size_t kBannerSize = sizeof kUpdateBanner - 1;
// 9600 baud with a start and a stop bit: 0.96 bytes a millisecond.
constexpr double kPacedBytesPerMs = 9600.0 / 10.0 / 1000.0;
constexpr char kTooLongReply[] = "OK-THIS-REPLY-IS-FAR-TOO-LONG\n>";
constexpr std::size_t kLineLimit = 200;
constexpr std::uint8_t kFirstPrintable = 0x20;

}  // namespace

InstrumentModel::InstrumentModel(InstrumentState state, const FaultSet& faults,
                                 FirmwareTiming timing)
    : state_(std::move(state)),
      faults_(faults),
      lineFaults_(faults.line),
      loader_(
          state_, faults_, timing, [this](const std::string& t) { Log(t); }, [this] { Changed(); }),
      memory_(faults_, [this](const std::string& t) { Log(t); }) {}

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
  Emit(Outbox(text.begin(), text.end()), false);
}

void InstrumentModel::Emit(const Outbox& bytes, bool transfer) {
  if (faults_.silent) return;
  if (!faults_.line.any() || (!transfer && !faults_.line.allOutput)) {
    output_.insert(output_.end(), bytes.begin(), bytes.end());
    return;
  }
  std::vector<std::uint8_t> carried;
  for (std::uint8_t byte : bytes) lineFaults_.Pass(byte, carried);
  output_.insert(output_.end(), carried.begin(), carried.end());
}

void InstrumentModel::RecordSurveys(std::vector<std::uint8_t> memory) {
  state_.memory = std::move(memory);
  Log("surveys recorded: " + std::to_string(state_.memory.size()) + " bytes");
  Changed();
}

void InstrumentModel::TakeUpload() {
  if (!memory_.TakeUploadedMemory(state_.memory)) return;
  Log("memory stored: " + std::to_string(state_.memory.size()) + " bytes");
  Changed();
}

void InstrumentModel::WatchBanner(std::uint8_t byte, std::uint32_t nowMs) {
  if (byte == static_cast<std::uint8_t>(kUpdateBanner[bannerMatched_]))
    ++bannerMatched_;
  else
    bannerMatched_ = byte == static_cast<std::uint8_t>(kUpdateBanner[0]) ? 1 : 0;
  if (bannerMatched_ < kBannerSize) return;
  bannerMatched_ = 0;
  line_.clear();
  unlocked_ = false;
  if (!faults_.silent) loader_.StartMainLoad(nowMs);
}

void InstrumentModel::Receive(std::uint8_t byte, std::uint32_t nowMs) {
  if (loader_.busy()) {
    Outbox out;
    const bool transfer = loader_.transferring();
    loader_.Receive(byte, nowMs, out);
    Emit(out, transfer);
    return;
  }
  if (memory_.active()) {
    Outbox out;
    memory_.Receive(byte, nowMs, out);
    Emit(out, true);
    TakeUpload();
    return;
  }
  WatchBanner(byte, nowMs);
  if (loader_.busy()) return;
  if (byte == '\n') {
    std::string command;
    command.swap(line_);
    if (!command.empty() && command.back() == '\r') command.pop_back();
    Execute(command, nowMs);
    return;
  }
  // A backspace takes back the last character: the host's cancel sequence ends with them, to wipe
  // what its receiver left on the line (a "C" asking for the next try).
  if (byte == kBackspace) {
    if (!line_.empty()) line_.pop_back();
    return;
  }
  // Control bytes left over from a transfer are not part of a command.
  if (byte < kFirstPrintable && byte != '\r') return;
  if (line_.size() < kLineLimit) line_.push_back(static_cast<char>(byte));
}

void InstrumentModel::Execute(const std::string& command, std::uint32_t nowMs) {
  commands_.push_back(command);
  Log("command \"" + command + "\"");
  if (faults_.silent) return;
  if (command == "UNLOCK") {
    unlocked_ = true;
    if (faults_.okWithCrLf)
      Send("OK\r\n");
    else if (faults_.longReply)
      Send(kTooLongReply);
    else
      Send("OK\n>");
    return;
  }
  if (!unlocked_) return;  // a locked instrument ignores everything but UNLOCK
  std::uint32_t length = 0;
  std::uint16_t crc = 0;
  if (command == "system") {
    Send(SystemReport());
    Send("\r\n>");
  } else if (command == "LOCK") {
    unlocked_ = false;
    Send("OK\r\n");
  } else if (command == kEraseCommand && erasesMisread_ < faults_.misreadErases) {
    // The line garbled a digit of the code: the instrument hears another command.
    ++erasesMisread_;
    Log("command misread as \"erase 40718299\" (fault): memory kept");
    Send("?\r\n");
  } else if (command == kEraseCommand) {
    state_.memory.clear();
    Send("OK\r\n");
    Log("memory erased");
    Changed();
  } else if (command == "DOWNLOAD") {
    Send(DownloadReply(state_.memory.size()));
    if (!state_.memory.empty()) memory_.StartDownload(state_.memory, nowMs);
    Log("download of " + std::to_string(state_.memory.size()) + " bytes");
  } else if (ParseUploadCommand(command, length, crc)) {
    Send("OK\r\n");
    Log("upload of " + std::to_string(length) + " bytes, CRC " + std::to_string(crc));
    Outbox out;
    memory_.StartUpload(length, crc, nowMs, out);
    Emit(out, true);
  } else if (command.empty()) {
    Send("\r\n>");
  } else {
    Send("?\r\n");
  }
}

std::vector<std::uint8_t> InstrumentModel::Transmit(std::uint32_t nowMs) {
  if (!poweredUp_) {
    poweredUp_ = true;
    loader_.PowerUp(nowMs);
  }
  Outbox out;
  const bool loading = loader_.transferring();
  loader_.Tick(nowMs, out);
  Emit(out, loading);
  if (memory_.active()) {
    out.clear();
    memory_.Tick(nowMs, out);
    Emit(out, true);
    TakeUpload();
  }
  std::vector<std::uint8_t> sent;
  if (!paced_) {
    sent.assign(output_.begin(), output_.end());
    output_.clear();
    return sent;
  }
  pacingCredit_ += kPacedBytesPerMs * static_cast<double>(nowMs - lastTransmitMs_);
  lastTransmitMs_ = nowMs;
  while (pacingCredit_ >= 1.0 && !output_.empty()) {
    sent.push_back(output_.front());
    output_.pop_front();
    pacingCredit_ -= 1.0;
  }
  if (output_.empty() && pacingCredit_ > 1.0) pacingCredit_ = 1.0;
  return sent;
}

}  // namespace zephor::sim
