// Options in one place, checked where CLI11 can check them, completed where it cannot.
#include "sim/sim_options.h"

#include <cstdio>
#include <fstream>
#include <iterator>

#include "sim/database_generator.h"

namespace zephor::sim {
namespace {

bool ReadMemoryFile(const std::string& path, std::vector<std::uint8_t>& memory) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  memory.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

// SEED:SIZE, both decimal.
bool ParseGenerateSpec(const std::string& spec, std::uint32_t& seed, std::size_t& size) {
  unsigned long s = 0, n = 0;
  int used = 0;
  if (std::sscanf(spec.c_str(), "%lu:%lu%n", &s, &n, &used) != 2 ||
      static_cast<std::size_t>(used) != spec.size())
    return false;
  seed = static_cast<std::uint32_t>(s);
  size = n;
  return true;
}

void AddStateOptions(CLI::App& app, SimOptions& o) {
  app.add_option("--main", o.state.mainVersion, "Main program version as printed (e.g. 1.31)");
  app.add_option("--boot", o.state.bootVersion,
                 "Boot program version as printed (1.2, or 12 for old mains)");
  app.add_option("--update", o.state.updateVersion, "Update program version as printed");
  app.add_option("--build", o.state.build, "Build number");
  app.add_option("--grade", o.state.grade, "Grade letters (Q, QN, QH, VJ, ...)");
  app.add_option("--equipment", o.state.equipmentNumber, "Equipment number");
  app.add_option("--card", o.state.cardNumber, "Card number");
  app.add_option("--issue", o.state.cardIssue, "Card issue");
  app.add_option("--missing", o.missing, "Program the loader waits for: B, U or S")
      ->check(CLI::IsMember({"B", "U", "S"}));
  app.add_flag("--no-main", o.noMain,
               "No main program behind the loader: once boot and update are in, it asks for one");
  app.add_option("--db", o.dbFile, "Measurement memory from FILE");
  app.add_option("--generate-db", o.generateSpec, "Generated measurement memory, SEED:SIZE");
}

void AddFaultOptions(CLI::App& app, SimOptions& o) {
  FaultSet& f = o.faults;
  app.add_option("--fault", o.faultNames,
                 "none, silent, ok-crlf, long-reply, never-ready (repeat to combine)");
  app.add_option("--nak-blocks", f.nakFirstBlocks, "Refuse the first N XMODEM blocks")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--cancel-at-block", f.cancelAtBlock,
                 "Send two CAN at XMODEM block K of any transfer")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--refuse-header", f.refuseHeader,
                 "Refuse the Nth image header the loader reads (NAK)")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--cancel-downloads", f.cancelDownloads,
                 "Cancel the first N database downloads at their first block")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--cancel-uploads", f.cancelUploads,
                 "Cancel the first N database uploads at their first block")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--unplug-at-download-block", f.unplugAtDownloadBlock,
                 "Close the terminal before block K of the first database download, as a "
                 "pulled-out cable, and end")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--misread-erases", f.misreadErases,
                 "Hear the first N erase commands garbled (answered \"?\", memory kept)")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--corrupt-rate", f.line.corrupt, "Chance to flip a bit of a sent byte")
      ->check(CLI::Range(0.0, 1.0));
  app.add_option("--drop-rate", f.line.drop, "Chance to drop a sent byte")
      ->check(CLI::Range(0.0, 1.0));
  app.add_option("--duplicate-rate", f.line.duplicate, "Chance to send a byte twice")
      ->check(CLI::Range(0.0, 1.0));
  app.add_option("--noise-seed", f.line.seed, "Seed of the line noise");
  app.add_flag("--noise-all", f.line.allOutput,
               "Line noise on every sent byte, not only on transfers");
}

void AddTimingAndReportOptions(CLI::App& app, SimOptions& o) {
  app.add_option("--ready-delay", o.timing.readyDelayMs,
                 "Milliseconds from a new main program to READY");
  app.add_option("--main-start-ms", o.timing.mainStartMs,
                 "Milliseconds the main takes to answer after a loaded update program");
  app.add_option("--conversion-ms", o.timing.conversionMs,
                 "Milliseconds the special main takes to convert the memory");
  app.add_flag("--paced", o.paced, "Pace output as at 9600 baud");
  app.add_option("--link", o.link, "Make PATH a symbolic link to the terminal");
  app.add_option("--state-out", o.stateOut, "Write the versions and memory size to FILE on change");
  app.add_option("--memory-out", o.memoryOut, "Write the memory bytes to FILE on change");
}

}  // namespace

void AddSimOptions(CLI::App& app, SimOptions& options) {
  AddStateOptions(app, options);
  AddFaultOptions(app, options);
  AddTimingAndReportOptions(app, options);
}

bool CompleteSimOptions(SimOptions& o, std::string& why) {
  for (const std::string& name : o.faultNames) {
    Fault fault;
    if (!ParseFault(name, fault)) {
      why = "unknown fault " + name;
      return false;
    }
    o.faults.Add(fault);
  }
  if (!o.missing.empty()) o.state.missingProgram = o.missing[0];
  o.state.hasMain = !o.noMain;
  if (!o.dbFile.empty() && !ReadMemoryFile(o.dbFile, o.state.memory)) {
    why = "cannot read " + o.dbFile;
    return false;
  }
  if (!o.generateSpec.empty()) {
    std::uint32_t seed = 0;
    std::size_t size = 0;
    if (!ParseGenerateSpec(o.generateSpec, seed, size)) {
      why = "--generate-db wants SEED:SIZE, not " + o.generateSpec;
      return false;
    }
    o.state.memory = GenerateDatabase(seed, size);
  }
  return true;
}

}  // namespace zephor::sim
