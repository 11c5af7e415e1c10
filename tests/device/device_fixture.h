// A station on port 0 with a scripted instrument, a recording panel and virtual time.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "device/operator_panel.h"
#include "recording_panel.h"
#include "scripted_instrument.h"
#include "serial/memory_line.h"
#include "serial/serial_port.h"

namespace zephor::device {

// The instrument's usual answer: the reply line, then its prompt character.
inline constexpr char kOkPrompt[] = "OK\n>";

class DeviceFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    factory.AddLine(0, &line);
    timing.Attach(&line, instrument.AsPeer());
    station.ports = {&factory, &timing};
    station.panel = &panel;
    station.portIndex = 0;
  }
  void TearDown() override { EXPECT_EQ(serial::OpenPortCount(), 0); }

  // A report as an instrument with the given values prints it.
  static std::string Report(const std::string& main, const std::string& boot,
                            const std::string& update, const std::string& issue,
                            const std::string& card, const std::string& grade) {
    return "\r\nZEPHOR - 100012345\r\n"
           "PCB: " +
           card + "  ISSUE: " + issue +
           "\r\n"
           "BOOT Version         : V" +
           boot +
           "\r\n"
           "UPDATE Version       : V" +
           update +
           "\r\n"
           "MAIN Version         : V" +
           main + " - " + grade +
           "\r\n"
           "Build                : 112\r\n>";
  }

  serial::MemoryLine line;
  serial::MemoryPortFactory factory;
  serial::VirtualTiming timing;
  RecordingPanel panel{&timing};
  ScriptedInstrument instrument;
  Station station;
};

}  // namespace zephor::device
