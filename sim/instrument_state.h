// What the simulated instrument is: its numbers, program versions, grade and measurement memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zephor::sim {

struct InstrumentState {
  long equipmentNumber = 123456789;
  long cardNumber = 12345678;
  int cardIssue = 2;
  std::string bootVersion = "1.2";  // as printed by a main above 1.13
  std::string updateVersion = "1.2";
  std::string mainVersion = "1.31";
  int build = 5;
  std::string grade = "QH";
  char missingProgram = 0;  // 'B', 'U' or 'S' while the loader waits for that program
  bool hasMain = true;      // false: once boot and update are in, the loader asks for a main
  std::vector<std::uint8_t> memory;
};

// "boot=1.2\nupdate=1.2\nmain=1.40\nbuild=7\ngrade=QH\nmemory_bytes=N\n"
std::string StateSummary(const InstrumentState& state);

}  // namespace zephor::sim
