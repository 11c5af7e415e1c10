// A recording operator panel, a scratch directory and file helpers for the database tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "device/device_info.h"
#include "device/operator_panel.h"
#include "serial/memory_line.h"

namespace zephor::database::testing {

using Bytes = std::vector<std::uint8_t>;

class RecordingPanel final : public device::OperatorPanel {
 public:
  void AppendLog(std::string_view text) override { log += text; }
  void ClearLog() override { log.clear(); }
  void SetProgress(int position) override { progress.push_back(position); }
  void SetProgressRange(int, int) override {}
  bool ShowMessage(std::string_view text, device::MessageButtons) override {
    messages.emplace_back(text);
    return true;
  }
  void ExitProgram(int code) override { exitCode = code; }

  std::string log;
  std::vector<std::string> messages;
  std::vector<int> progress;
  int exitCode = -1;
};

class DatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    directory = std::filesystem::temp_directory_path() /
                (std::string("zephor_db_") + info->test_suite_name() + "_" + info->name() + "_" +
                 std::to_string(std::random_device{}()));
    std::filesystem::remove_all(directory);
    std::filesystem::create_directories(directory);
    station.panel = &panel;
    station.ports.timing = &timing;
  }
  void TearDown() override { std::filesystem::remove_all(directory); }

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

  std::filesystem::path directory;
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
