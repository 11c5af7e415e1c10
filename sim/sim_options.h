// The simulator's command line: the instrument it plays, its faults and timing, and its reports.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "sim/fault_set.h"
#include "sim/instrument_state.h"
#include "sim/loader_model.h"

namespace zephor::sim {

struct SimOptions {
  InstrumentState state;
  FaultSet faults;
  FirmwareTiming timing;
  bool paced = false;
  std::string link;       // a symbolic link made to the terminal
  std::string stateOut;   // versions and memory size, rewritten on every change
  std::string memoryOut;  // the memory's bytes, rewritten on every change
  // As given, turned into state and faults by Complete.
  std::string missing;
  bool noMain = false;
  std::string dbFile;
  std::string generateSpec;
  std::vector<std::string> faultNames;
};

// Every option of zephor-sim, bound to options.
void AddSimOptions(CLI::App& app, SimOptions& options);

// Turns what was given as text into the instrument's state and faults: the fault names, the
// waiting loader, the memory from a file or generated. False with why set.
bool CompleteSimOptions(SimOptions& options, std::string& why);

}  // namespace zephor::sim
