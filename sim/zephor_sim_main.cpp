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
#include <iostream>
#include <string>

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

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"zephor-sim: a simulated ZEPHOR on a pseudo-terminal"};
  zephor::sim::InstrumentState state;
  std::string link, faultName = "none", missing;
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
  app.add_option("--fault", faultName, "none, silent, ok-crlf, long-reply, never-ready");
  app.add_flag("--paced", paced, "Pace output as at 9600 baud");
  CLI11_PARSE(app, argc, argv);

  zephor::sim::Fault fault;
  if (!zephor::sim::ParseFault(faultName, fault)) {
    std::cerr << "zephor-sim: unknown fault " << faultName << "\n";
    return 2;
  }
  if (!missing.empty()) state.missingProgram = missing[0];

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

  zephor::sim::InstrumentModel model(state, fault);
  model.SetPaced(paced);
  model.SetCommandLog([](const std::string& line) { std::cerr << "zephor-sim: " << line << "\n"; });
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
  }
  if (!link.empty()) unlink(link.c_str());
  close(slave);
  close(master);
  return 0;
}
