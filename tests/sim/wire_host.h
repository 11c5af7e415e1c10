// A scripted host for the simulated instrument: raw bytes, headers built by hand and a plain
// XMODEM of its own, so the instrument is checked against something it does not share code with.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "serial/serial_port.h"
#include "serial/timed_io.h"
#include "sim/in_process.h"

namespace zephor::sim::test {

using Bytes = std::vector<std::uint8_t>;

inline std::uint16_t HostCrc(const Bytes& data, std::size_t from = 0, std::size_t to = SIZE_MAX) {
  std::uint16_t crc = 0;
  for (std::size_t i = from; i < std::min(to, data.size()); ++i) {
    crc ^= static_cast<std::uint16_t>(data[i] << 8);
    for (int b = 0; b < 8; ++b) crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
  }
  return crc;
}

inline void AppendText(Bytes& b, const std::string& t) { b.insert(b.end(), t.begin(), t.end()); }

inline Bytes LongHeader(std::size_t length, unsigned crc, unsigned code) {
  char text[32];
  std::snprintf(text, sizeof text, "%08zu\x1f%05u\x1f%03u", length, crc, code);
  Bytes h = {0x01, 0x02};
  AppendText(h, text);
  h.push_back(0x03);
  const std::uint16_t c = HostCrc(h, 1);
  h.push_back(static_cast<std::uint8_t>(c >> 8));
  h.push_back(static_cast<std::uint8_t>(c));
  return h;
}

inline Bytes ShortHeader(std::size_t length, unsigned sum) {
  char text[32];
  std::snprintf(text, sizeof text, "%08zu\x1f%05u", length, sum);
  Bytes h = {0x01, 0x02};
  AppendText(h, text);
  h.push_back(0x03);
  const std::uint16_t c = HostCrc(h, 1);
  h.push_back(static_cast<std::uint8_t>(c >> 8));
  h.push_back(static_cast<std::uint8_t>(c));
  return h;
}

inline unsigned ByteSum(const Bytes& data) {
  unsigned sum = 0;
  for (std::uint8_t b : data) sum = (sum + b) & 0xFFFF;
  return sum;
}

// An image of size bytes with the given stamp texts ("Version xx1.40") placed at the start.
inline Bytes Image(std::size_t size, const std::vector<std::string>& stamps, std::uint8_t seed) {
  Bytes image;
  for (const auto& s : stamps) AppendText(image, s);
  std::uint32_t x = seed * 2654435761u + 1;
  while (image.size() < size) {
    x = x * 1103515245u + 12345u;
    image.push_back(static_cast<std::uint8_t>('a' + (x >> 16) % 20));  // no 'V' or 'B'
  }
  return image;
}

class WireHost {
 public:
  explicit WireHost(InProcessInstrument& instrument)
      : port_(serial::OpenPort(instrument.environment(), 0, 9600, 'N', 8, 1)) {}
  ~WireHost() { serial::ClosePort(port_); }

  serial::SerialPort& port() { return *port_; }
  int ReadByte(int limitMs) { return serial::ReadChar(*port_, limitMs); }
  void Write(const Bytes& bytes) {
    serial::WriteBuffer(*port_, bytes.data(), static_cast<int>(bytes.size()), 500);
  }
  void Write(const std::string& text) { Write(Bytes(text.begin(), text.end())); }
  // Everything that arrives until the line is quiet for quietMs.
  std::string ReadUntilQuiet(int quietMs) {
    std::string text;
    for (int c; (c = ReadByte(quietMs)) >= 0;) text.push_back(static_cast<char>(c));
    return text;
  }

  // Sends data in 128-byte CRC blocks padded with 0x00, as the utility does; true when EOT is
  // acknowledged.
  bool SendXmodem(const Bytes& data, int* naks = nullptr) {
    int c = ReadByte(10000);
    if (c != 'C') return false;
    const std::size_t blocks = (data.size() + 127) / 128;
    for (std::size_t i = 0; i <= blocks;) {
      Bytes out;
      if (i == blocks) {
        out.push_back(0x04);
      } else {
        Bytes payload(data.begin() + static_cast<long>(i * 128),
                      data.begin() + static_cast<long>(std::min(data.size(), i * 128 + 128)));
        payload.resize(128, 0x00);
        const auto n = static_cast<std::uint8_t>(i + 1);
        out = {0x01, n, static_cast<std::uint8_t>(~n)};
        out.insert(out.end(), payload.begin(), payload.end());
        const std::uint16_t crc = HostCrc(payload);
        out.push_back(static_cast<std::uint8_t>(crc >> 8));
        out.push_back(static_cast<std::uint8_t>(crc));
      }
      Write(out);
      const int reply = ReadByte(12000);
      if (reply == 0x06) {
        if (i == blocks) return true;
        ++i;
      } else if (reply == 0x15) {
        if (naks) ++*naks;
      } else {
        lastReply = reply;
        return false;
      }
    }
    return false;
  }

  // Receives CRC blocks; true at EOT. Sends request first (C or NAK).
  bool ReceiveXmodem(Bytes& data, std::uint8_t request = 'C') {
    Write(Bytes{request});
    std::uint8_t expected = 1;
    while (true) {
      const int start = ReadByte(12000);
      if (start == 0x04) {
        Write(Bytes{0x06});
        return true;
      }
      if (start != 0x01) {
        lastReply = start;
        return false;
      }
      Bytes block(request == 'C' ? 132 : 131);
      for (auto& b : block) {
        const int c = ReadByte(1000);
        if (c < 0) return false;
        b = static_cast<std::uint8_t>(c);
      }
      Bytes payload(block.begin() + 2, block.begin() + 130);
      bool good = block[0] == expected && block[1] == static_cast<std::uint8_t>(~expected);
      if (request == 'C')
        good = good && HostCrc(payload) == ((block[130] << 8) | block[131]);
      else
        good = good && static_cast<std::uint8_t>(ByteSum(payload)) == block[130];
      if (!good) {
        Write(Bytes{0x15});
        continue;
      }
      data.insert(data.end(), payload.begin(), payload.end());
      ++expected;
      Write(Bytes{0x06});
    }
  }

  int lastReply = 0;

 private:
  serial::SerialPort* port_;
};

}  // namespace zephor::sim::test
