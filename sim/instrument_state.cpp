// The state as a few key=value lines, for scripts that check what an update did.
#include "sim/instrument_state.h"

namespace zephor::sim {

std::string StateSummary(const InstrumentState& state) {
  return "boot=" + state.bootVersion + "\nupdate=" + state.updateVersion +
         "\nmain=" + state.mainVersion + "\nbuild=" + std::to_string(state.build) +
         "\ngrade=" + state.grade + "\nmemory_bytes=" + std::to_string(state.memory.size()) + "\n";
}

}  // namespace zephor::sim
