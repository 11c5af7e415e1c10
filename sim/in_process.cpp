// Each virtual millisecond the instrument takes what the host sent and answers on the line.
#include "sim/in_process.h"

namespace zephor::sim {

InProcessInstrument::InProcessInstrument(InstrumentState state, const FaultSet& faults,
                                         int portIndex, FirmwareTiming timing)
    : model_(std::move(state), faults, timing) {
  factory_.AddLine(portIndex, &line_);
  timing_.Attach(&line_, [this](std::uint32_t now, serial::MemoryLine& line) {
    while (!line.toPeer.empty()) {
      model_.Receive(line.toPeer.front(), now);
      line.toPeer.pop_front();
    }
    line.PeerSend(model_.Transmit(now));
  });
}

}  // namespace zephor::sim
