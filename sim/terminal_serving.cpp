// The pseudo-terminal's master is read and written in one loop that ticks the model every
// millisecond: the instrument keeps its own time, as the real one does.
#include "sim/terminal_serving.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "sim/instrument_model.h"

namespace zephor::sim {
namespace {

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

constexpr int kStepMs = 1;
constexpr std::size_t kReadChunk = 256;

std::uint32_t NowMs() {
  using namespace std::chrono;
  return static_cast<std::uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// A pseudo-terminal whose slave stays open, so the master never sees a hang-up when a client
// closes the port; the link to it is removed when it closes.
class Terminal {
 public:
  ~Terminal() {
    if (!link_.empty()) unlink(link_.c_str());
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
  }

  bool Open() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return false;
    const char* name = ptsname(master_);
    if (name == nullptr) return false;
    path_ = name;
    slave_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slave_ < 0) return false;
    termios tio{};
    if (tcgetattr(slave_, &tio) == 0) {
      cfmakeraw(&tio);
      tcsetattr(slave_, TCSANOW, &tio);
    }
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    return true;
  }

  bool LinkAs(const std::string& link) {
    unlink(link.c_str());
    if (symlink(path_.c_str(), link.c_str()) != 0) return false;
    link_ = link;
    path_ = link;
    return true;
  }

  int master() const { return master_; }
  const std::string& path() const { return path_; }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
  std::string link_;
};

// Writes to a temporary name first so a reader never sees half a file.
void WriteWhole(const std::string& path, const void* data, std::size_t size) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  std::rename(temporary.c_str(), path.c_str());
}

// The reports a test reads: the versions and memory size, and the memory's bytes.
void ReportOnChange(InstrumentModel& model, const SimOptions& options) {
  auto write = [stateOut = options.stateOut,
                memoryOut = options.memoryOut](const InstrumentState& now) {
    if (!stateOut.empty()) {
      const std::string summary = StateSummary(now);
      WriteWhole(stateOut, summary.data(), summary.size());
    }
    if (!memoryOut.empty()) WriteWhole(memoryOut, now.memory.data(), now.memory.size());
  };
  model.SetStateListener(write);
  write(model.state());
}

void Serve(InstrumentModel& model, int master) {
  while (!g_stop) {
    pollfd p{master, POLLIN, 0};
    poll(&p, 1, kStepMs);
    const std::uint32_t now = NowMs();
    std::uint8_t buf[kReadChunk];
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
}

}  // namespace

int ServeOnTerminal(const SimOptions& options) {
  Terminal terminal;
  if (!terminal.Open()) {
    std::perror("zephor-sim: pseudo-terminal");
    return 1;
  }
  if (!options.link.empty() && !terminal.LinkAs(options.link)) {
    std::perror("zephor-sim: link");
    return 1;
  }
  signal(SIGTERM, OnSignal);
  signal(SIGINT, OnSignal);

  InstrumentModel model(options.state, options.faults, options.timing);
  model.SetPaced(options.paced);
  model.SetCommandLog([](const std::string& line) { std::cerr << "zephor-sim: " << line << "\n"; });
  ReportOnChange(model, options);
  std::cout << "ready " << terminal.path() << std::endl;
  Serve(model, terminal.master());
  return 0;
}

}  // namespace zephor::sim
