// A port on an in-memory line with virtual time, for tests of the timed functions.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "serial/memory_line.h"
#include "serial/timed_io.h"

namespace zephor::serial {

class LineFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    factory.AddLine(0, &line);
    timing.Attach(&line, [this](std::uint32_t now, MemoryLine& l) {
      if (peer) peer(now, l);
    });
    env = {&factory, &timing};
    port = OpenPort(env, 0, 9600, 'N', 8, 1);
    ASSERT_EQ(port->status, kOk);
  }
  void TearDown() override {
    if (port != nullptr) ClosePort(port);
  }
  void Feed(const std::string& s) { line.toHost.insert(line.toHost.end(), s.begin(), s.end()); }
  std::string Sent() {
    std::string s(line.toPeer.begin(), line.toPeer.end());
    line.toPeer.clear();
    return s;
  }

  MemoryLine line;
  MemoryPortFactory factory;
  VirtualTiming timing;
  PortEnvironment env;
  SerialPort* port = nullptr;
  PeerStep peer;
};

}  // namespace zephor::serial
