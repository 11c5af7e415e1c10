// A port on an in-memory line with virtual time and a scratch directory, for transfer tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "serial/memory_line.h"
#include "temp_dir.h"
#include "transfer/xmodem.h"

namespace zephor::transfer {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t kPeerSoh = 0x01;
inline constexpr std::uint8_t kPeerStx = 0x02;
inline constexpr std::uint8_t kPeerEot = 0x04;
inline constexpr std::uint8_t kPeerAck = 0x06;
inline constexpr std::uint8_t kPeerBs = 0x08;
inline constexpr std::uint8_t kPeerNak = 0x15;
inline constexpr std::uint8_t kPeerCan = 0x18;
inline constexpr std::uint8_t kPeerC = 'C';

// The peer's own check codes, written from the protocol's definition.
inline std::uint16_t PeerCrc(const Bytes& data) {
  std::uint16_t crc = 0;
  for (std::uint8_t b : data) {
    crc ^= static_cast<std::uint16_t>(b << 8);
    for (int i = 0; i < 8; ++i) {
      crc = (crc & 0x8000) ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021)
                           : static_cast<std::uint16_t>(crc << 1);
    }
  }
  return crc;
}

inline std::uint8_t PeerSum(const Bytes& data) {
  unsigned sum = 0;
  for (std::uint8_t b : data) sum += b;
  return static_cast<std::uint8_t>(sum & 0xFF);
}

inline Bytes CancelSequence() {
  Bytes b(20, kPeerBs);
  std::fill_n(b.begin(), 10, kPeerCan);
  return b;
}

inline bool EndsWith(const Bytes& all, const Bytes& tail) {
  return all.size() >= tail.size() && std::equal(tail.begin(), tail.end(), all.end() - tail.size());
}

inline Bytes Pattern(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  Bytes b(n);
  for (auto& v : b) v = static_cast<std::uint8_t>(gen() & 0xFF);
  return b;
}

class TransferFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    factory.AddLine(0, &line);
    timing.Attach(&line, [this](std::uint32_t now, serial::MemoryLine& l) {
      if (peer) peer(now, l);
    });
    env = {&factory, &timing};
    port = serial::OpenPort(env, 0, 9600, 'N', 8, 1);
    ASSERT_EQ(port->status, serial::kOk);
  }
  void TearDown() override {
    if (port != nullptr) serial::ClosePort(port);
  }

  std::string PathOf(const std::string& name) const { return (dir / name).string(); }
  void WriteFile(const std::string& name, const Bytes& data) const {
    std::ofstream out(PathOf(name), std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
  }
  Bytes ReadFile(const std::string& name) const {
    std::ifstream in(PathOf(name), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  bool Exists(const std::string& name) const { return std::filesystem::exists(PathOf(name)); }
  MessageSink Recorder() {
    return [this](const std::string& m) { messages.push_back(m); };
  }
  bool HasMessage(const std::string& m) const {
    return std::find(messages.begin(), messages.end(), m) != messages.end();
  }

  const support::TempDir scratch;
  const std::filesystem::path dir = scratch.path();
  serial::MemoryLine line;
  serial::MemoryPortFactory factory;
  serial::VirtualTiming timing;
  serial::PortEnvironment env;
  serial::SerialPort* port = nullptr;
  serial::PeerStep peer;
  std::vector<std::string> messages;
};

}  // namespace zephor::transfer
