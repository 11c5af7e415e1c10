// A scripted instrument on a MemoryLine: answers whole command lines from a table and sends
// unasked bytes at given virtual times.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "serial/memory_line.h"

namespace zephor::device {

class ScriptedInstrument {
 public:
  // When the host sends command and a line feed, the peer answers with reply after delayMs.
  void Answer(const std::string& command, const std::string& reply, std::uint32_t delayMs = 0) {
    answers_[command] = {reply, delayMs};
  }
  // Bytes sent unasked at a virtual time.
  void SendAt(std::uint32_t atMs, const std::string& bytes) { due_.emplace_back(atMs, bytes); }

  void Step(std::uint32_t nowMs, serial::MemoryLine& line) {
    while (!line.toPeer.empty()) {
      const char c = static_cast<char>(line.toPeer.front());
      line.toPeer.pop_front();
      received.push_back(c);
      if (c != '\n') {
        pending.push_back(c);
        continue;
      }
      lines.push_back(pending);
      lineTimes.push_back(nowMs);
      const auto answer = answers_.find(pending);
      if (answer != answers_.end()) {
        due_.emplace_back(nowMs + answer->second.second, answer->second.first);
      }
      pending.clear();
    }
    for (auto it = due_.begin(); it != due_.end();) {
      if (it->first > nowMs) {
        ++it;
        continue;
      }
      line.PeerSend(std::vector<std::uint8_t>(it->second.begin(), it->second.end()));
      it = due_.erase(it);
    }
  }

  serial::PeerStep AsPeer() {
    return [this](std::uint32_t nowMs, serial::MemoryLine& line) { Step(nowMs, line); };
  }

  bool Got(const std::string& command) const {
    return std::find(lines.begin(), lines.end(), command) != lines.end();
  }
  // Virtual time at which the line arrived; 0 when it never did.
  std::uint32_t TimeOf(const std::string& command) const {
    const auto it = std::find(lines.begin(), lines.end(), command);
    return it == lines.end() ? 0 : lineTimes[static_cast<std::size_t>(it - lines.begin())];
  }

  std::string received;            // every byte the host sent
  std::vector<std::string> lines;  // complete lines, without their line feed
  std::vector<std::uint32_t> lineTimes;
  std::string pending;  // bytes after the last line feed

 private:
  std::map<std::string, std::pair<std::string, std::uint32_t>> answers_;
  std::vector<std::pair<std::uint32_t, std::string>> due_;
};

}  // namespace zephor::device
