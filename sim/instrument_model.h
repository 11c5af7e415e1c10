// A simulated ZEPHOR: the instrument's side of the command conversation, on a millisecond clock.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace zephor::sim {

// Faults the instrument can be given.
enum class Fault {
  kNone,
  kSilent,      // answers nothing at all
  kOkWithCrLf,  // answers UNLOCK with "OK\r\n"
  kLongReply,   // answers UNLOCK with a line too long for the reply buffer
  kNeverReady,  // never sends READY after a restart
};

struct InstrumentState {
  long equipmentNumber = 123456789;
  long cardNumber = 12345678;
  int cardIssue = 2;
  std::string bootVersion = "1.2";  // as printed by a main above 1.13
  std::string updateVersion = "1.2";
  std::string mainVersion = "1.31";
  int build = 5;
  std::string grade = "QH";
  char missingProgram = 0;  // 'B', 'U' or 'S' when the loader waits for that program
  std::vector<std::uint8_t> memory;
};

class InstrumentModel {
 public:
  using CommandLog = std::function<void(const std::string&)>;

  InstrumentModel(InstrumentState state, Fault fault) : state_(std::move(state)), fault_(fault) {}

  // One byte from the host at time nowMs.
  void Receive(std::uint8_t byte, std::uint32_t nowMs);
  // Bytes the instrument puts on the line at nowMs; paced output gives about one a millisecond.
  std::vector<std::uint8_t> Transmit(std::uint32_t nowMs);

  // Paces output as at 9600 baud (10 bits a byte, about 1.04 ms each).
  void SetPaced(bool paced) { paced_ = paced; }
  void SetCommandLog(CommandLog log) { log_ = std::move(log); }

  // The report the instrument prints for "system".
  std::string SystemReport() const;

  const InstrumentState& state() const { return state_; }
  bool unlocked() const { return unlocked_; }
  const std::vector<std::string>& commands() const { return commands_; }

 private:
  void Execute(const std::string& command);
  void Send(const std::string& text);

  InstrumentState state_;
  Fault fault_;
  bool unlocked_ = false;
  bool paced_ = false;
  std::string line_;
  std::deque<std::uint8_t> output_;
  std::vector<std::string> commands_;
  CommandLog log_;
  std::uint32_t lastLetterMs_ = 0;
  bool letterSent_ = false;
  double pacingCredit_ = 0;
  std::uint32_t lastTransmitMs_ = 0;
};

// Parses a fault name ("silent", "ok-crlf", "long-reply", "never-ready"); false when unknown.
bool ParseFault(const std::string& name, Fault& fault);

}  // namespace zephor::sim
