// zephor-sim: a simulated ZEPHOR on a pseudo-terminal, in real time, until it is killed.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "sim/database_generator.h"
#include "sim/instrument_model.h"

namespace {

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

constexpr int kStepMs = 1;

std::uint32_t NowMs() {
  using namespace std::chrono;
  return static_cast<std::uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// Opens a pseudo-terminal; keeps its slave open so the master never sees a hang-up when a
// client closes the port.
bool OpenTerminal(int& master, int& slave, std::string& slaveName) {
  master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return false;
  const char* name = ptsname(master);
  if (name == nullptr) return false;
  slaveName = name;
  slave = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (slave < 0) return false;
  termios tio{};
  if (tcgetattr(slave, &tio) == 0) {
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
  }
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  return true;
}

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

// Writes to a temporary name first so a reader never sees half a file.
void WriteWhole(const std::string& path, const void* data, std::size_t size) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  std::rename(temporary.c_str(), path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"zephor-sim: a simulated ZEPHOR on a pseudo-terminal"};
  zephor::sim::InstrumentState state;
  std::string link, missing, dbFile, generateSpec, stateOut, memoryOut;
  bool noMain = false;
  std::vector<std::string> faultNames;
  zephor::sim::FaultSet faults;
  zephor::sim::FirmwareTiming firmwareTiming;
  bool paced = false;
  app.add_option("--link", link, "Make PATH a symbolic link to the terminal");
  app.add_option("--main", state.mainVersion, "Main program version as printed (e.g. 1.31)");
  app.add_option("--boot", state.bootVersion,
                 "Boot program version as printed (1.2, or 12 for old mains)");
  app.add_option("--update", state.updateVersion, "Update program version as printed");
  app.add_option("--build", state.build, "Build number");
  app.add_option("--grade", state.grade, "Grade letters (Q, QN, QH, VJ, ...)");
  app.add_option("--equipment", state.equipmentNumber, "Equipment number");
  app.add_option("--card", state.cardNumber, "Card number");
  app.add_option("--issue", state.cardIssue, "Card issue");
  app.add_option("--missing", missing, "Program the loader waits for: B, U or S")
      ->check(CLI::IsMember({"B", "U", "S"}));
  app.add_option("--fault", faultNames,
                 "none, silent, ok-crlf, long-reply, never-ready (repeat to combine)");
  app.add_option("--nak-blocks", faults.nakFirstBlocks, "Refuse the first N XMODEM blocks")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--cancel-at-block", faults.cancelAtBlock,
                 "Send two CAN at XMODEM block K of any transfer")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--refuse-header", faults.refuseHeader,
                 "Refuse the Nth image header the loader reads (NAK)")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--cancel-downloads", faults.cancelDownloads,
                 "Cancel the first N database downloads at their first block")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--cancel-uploads", faults.cancelUploads,
                 "Cancel the first N database uploads at their first block")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--unplug-at-download-block", faults.unplugAtDownloadBlock,
                 "Close the terminal before block K of the first database download, as a "
                 "pulled-out cable, and end")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--misread-erases", faults.misreadErases,
                 "Hear the first N erase commands garbled (answered \"?\", memory kept)")
      ->check(CLI::NonNegativeNumber);
  app.add_flag("--no-main", noMain,
               "No main program behind the loader: once boot and update are in, it asks for one");
  app.add_option("--corrupt-rate", faults.line.corrupt, "Chance to flip a bit of a sent byte")
      ->check(CLI::Range(0.0, 1.0));
  app.add_option("--drop-rate", faults.line.drop, "Chance to drop a sent byte")
      ->check(CLI::Range(0.0, 1.0));
  app.add_option("--duplicate-rate", faults.line.duplicate, "Chance to send a byte twice")
      ->check(CLI::Range(0.0, 1.0));
  app.add_option("--noise-seed", faults.line.seed, "Seed of the line noise");
  app.add_flag("--noise-all", faults.line.allOutput,
               "Line noise on every sent byte, not only on transfers");
  app.add_option("--ready-delay", firmwareTiming.readyDelayMs,
                 "Milliseconds from a new main program to READY");
  app.add_option("--main-start-ms", firmwareTiming.mainStartMs,
                 "Milliseconds the main takes to answer after a loaded update program");
  app.add_option("--conversion-ms", firmwareTiming.conversionMs,
                 "Milliseconds the special main takes to convert the memory");
  app.add_option("--db", dbFile, "Measurement memory from FILE");
  app.add_option("--generate-db", generateSpec, "Generated measurement memory, SEED:SIZE");
  app.add_option("--state-out", stateOut, "Write the versions and memory size to FILE on change");
  app.add_option("--memory-out", memoryOut, "Write the memory bytes to FILE on change");
  app.add_flag("--paced", paced, "Pace output as at 9600 baud");
  CLI11_PARSE(app, argc, argv);

  for (const std::string& name : faultNames) {
    zephor::sim::Fault fault;
    if (!zephor::sim::ParseFault(name, fault)) {
      std::cerr << "zephor-sim: unknown fault " << name << "\n";
      return 2;
    }
    faults.Add(fault);
  }
  if (!missing.empty()) state.missingProgram = missing[0];
  state.hasMain = !noMain;
  if (!dbFile.empty() && !ReadMemoryFile(dbFile, state.memory)) {
    std::cerr << "zephor-sim: cannot read " << dbFile << "\n";
    return 2;
  }
  if (!generateSpec.empty()) {
    std::uint32_t seed = 0;
    std::size_t size = 0;
    if (!ParseGenerateSpec(generateSpec, seed, size)) {
      std::cerr << "zephor-sim: --generate-db wants SEED:SIZE, not " << generateSpec << "\n";
      return 2;
    }
    state.memory = zephor::sim::GenerateDatabase(seed, size);
  }

  int master = -1, slave = -1;
  std::string slaveName;
  if (!OpenTerminal(master, slave, slaveName)) {
    std::perror("zephor-sim: pseudo-terminal");
    return 1;
  }
  std::string path = slaveName;
  if (!link.empty()) {
    unlink(link.c_str());
    if (symlink(slaveName.c_str(), link.c_str()) != 0) {
      std::perror("zephor-sim: link");
      return 1;
    }
    path = link;
  }
  signal(SIGTERM, OnSignal);
  signal(SIGINT, OnSignal);

  zephor::sim::InstrumentModel model(state, faults, firmwareTiming);
  model.SetPaced(paced);
  model.SetCommandLog([](const std::string& line) { std::cerr << "zephor-sim: " << line << "\n"; });
  auto writeState = [&](const zephor::sim::InstrumentState& now) {
    if (!stateOut.empty()) {
      const std::string summary = zephor::sim::StateSummary(now);
      WriteWhole(stateOut, summary.data(), summary.size());
    }
    if (!memoryOut.empty()) WriteWhole(memoryOut, now.memory.data(), now.memory.size());
  };
  model.SetStateListener(writeState);
  writeState(model.state());
  std::cout << "ready " << path << std::endl;

  while (!g_stop) {
    pollfd p{master, POLLIN, 0};
    poll(&p, 1, kStepMs);
    const std::uint32_t now = NowMs();
    std::uint8_t buf[256];
    ssize_t n;
    while ((n = read(master, buf, sizeof buf)) > 0) {
      for (ssize_t i = 0; i < n; ++i) model.Receive(buf[i], now);
    }
    const auto out = model.Transmit(now);
    // A full terminal buffer drops bytes, as a line would with nobody listening.
    if (!out.empty() && write(master, out.data(), out.size()) < 0) {
    }
    if (model.unplugged()) break;
  }
  if (!link.empty()) unlink(link.c_str());
  close(slave);
  close(master);
  return 0;
}
