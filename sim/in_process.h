// The simulated instrument behind an in-memory line on virtual time, for tests.
#pragma once

#include "serial/memory_line.h"
#include "sim/instrument_model.h"

namespace zephor::sim {

class InProcessInstrument {
 public:
  InProcessInstrument(InstrumentState state, const FaultSet& faults, int portIndex = 0,
                      FirmwareTiming timing = {});
  InProcessInstrument(const InProcessInstrument&) = delete;
  InProcessInstrument& operator=(const InProcessInstrument&) = delete;

  serial::PortEnvironment environment() { return {&factory_, &timing_}; }
  serial::VirtualTiming& timing() { return timing_; }
  serial::MemoryLine& line() { return line_; }
  InstrumentModel& model() { return model_; }

 private:
  InstrumentModel model_;
  serial::MemoryLine line_;
  serial::MemoryPortFactory factory_;
  serial::VirtualTiming timing_;
};

}  // namespace zephor::sim
