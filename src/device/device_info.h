// What the instrument tells of itself in its system report: numbers, versions, grade, build.
#pragma once

#include <cstdint>
#include <string>

namespace zephor::device {

// Every user starts from a zeroed record; a value that is not found or does not convert keeps
// what the record held.
struct DeviceInfo {
  std::int32_t equipmentNumber = 0;
  std::int32_t cardNumber = 0;
  std::int32_t cardIssue = 0;
  float bootVersion = 0.0f;
  float updateVersion = 0.0f;
  float mainVersion = 0.0f;
  std::string grade;  // at most two letters
  std::int32_t build = 0;
};

}  // namespace zephor::device
