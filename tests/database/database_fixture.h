// A recording operator panel, a scratch folder and file helpers for the database tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "device/device_info.h"
#include "device/operator_panel.h"
#include "recording_panel.h"
#include "serial/memory_line.h"
#include "temp_dir.h"

namespace zephor::database::testing {

using Bytes = std::vector<std::uint8_t>;

using device::RecordingPanel;

class DatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    station.panel = &panel;
    station.ports.timing = &timing;
  }

  Bytes ReadOut(const char* name) const {
    std::ifstream file(directory / name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  std::string ReadText(const char* name) const {
    const Bytes bytes = ReadOut(name);
    return std::string(bytes.begin(), bytes.end());
  }
  bool Exists(const char* name) const { return std::filesystem::exists(directory / name); }
  void WriteIn(const char* name, const Bytes& bytes) const {
    std::ofstream file(directory / name, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }

  support::TempDir scratch;
  const std::filesystem::path directory = scratch.path();
  RecordingPanel panel;
  serial::VirtualTiming timing;
  device::Station station;
};

inline device::DeviceInfo InfoWith(std::int32_t equipmentNumber, std::int32_t build) {
  device::DeviceInfo info;
  info.equipmentNumber = equipmentNumber;
  info.build = build;
  return info;
}

inline Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

}  // namespace zephor::database::testing
