// A large saved database copied, converted and reported; each rate next to the plain copy's.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "database/database_file.h"
#include "database/saved_database.h"
#include "device/device_info.h"
#include "device/operator_panel.h"
#include "sim/database_generator.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kDatabaseBytes = 64u * 1024u * 1024u;
constexpr std::uint32_t kSeed = 20240607;
constexpr int kRuns = 3;  // the best of a few runs, so a cold cache does not decide
constexpr double kBytesPerMegabyte = 1e6;
constexpr const char* kConversionGrade = "QH";
constexpr std::int32_t kBuildWithAColumn = 224;

// Counts the log lines and answers every message box with OK; nothing is shown.
class DiscardPanel final : public zephor::device::OperatorPanel {
 public:
  void AppendLog(std::string_view text) override {
    for (const char c : text) lines += c == '\n' ? 1 : 0;
  }
  void ClearLog() override {}
  void SetProgress(int) override {}
  void SetProgressRange(int, int) override {}
  bool ShowMessage(std::string_view, zephor::device::MessageButtons) override {
    ++messages;
    return true;
  }
  void ExitProgram(int code) override { exitCode = code; }

  long lines = 0;
  long messages = 0;
  int exitCode = 0;
};

bool WriteFile(const fs::path& path, const std::vector<std::uint8_t>& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  out.close();
  return !out.fail();
}

// Best wall time in seconds of kRuns calls of step; negative when a call failed.
template <typename Step>
double BestSeconds(Step step) {
  double best = -1.0;
  for (int run = 0; run < kRuns; ++run) {
    const auto start = Clock::now();
    if (!step()) return -1.0;
    const std::chrono::duration<double> took = Clock::now() - start;
    if (best < 0.0 || took.count() < best) best = took.count();
  }
  return best;
}

double Rate(std::size_t bytes, double seconds) { return bytes / kBytesPerMegabyte / seconds; }

std::uintmax_t SizeOf(const fs::path& path) {
  std::error_code error;
  const std::uintmax_t size = fs::file_size(path, error);
  return error ? 0 : size;
}

}  // namespace

int main() {
  using zephor::database::SavedDatabaseOutcome;
  std::error_code error;
  const fs::path dir =
      fs::temp_directory_path(error) / ("zephor_db_bench_" + std::to_string(kSeed));
  fs::create_directories(dir, error);
  if (error) {
    std::fprintf(stderr, "cannot create %s: %s\n", dir.c_str(), error.message().c_str());
    return 1;
  }
  const fs::path database = dir / zephor::database::kDatabaseFileName;

  const auto generateStart = Clock::now();
  const std::vector<std::uint8_t> data = zephor::sim::GenerateDatabase(kSeed, kDatabaseBytes);
  const std::chrono::duration<double> generated = Clock::now() - generateStart;
  if (!WriteFile(database, data)) {
    std::fprintf(stderr, "cannot write %s\n", database.c_str());
    return 1;
  }
  std::printf("database %zu bytes (generated in %.2f s) in %s\n", data.size(), generated.count(),
              dir.c_str());

  const fs::path copy = dir / "copy.bin";
  const double copySeconds = BestSeconds([&] {
    std::error_code copyError;
    fs::copy_file(database, copy, fs::copy_options::overwrite_existing, copyError);
    return !copyError;
  });

  DiscardPanel panel;
  zephor::device::Station station;  // no timing: the pause before a file is closed is skipped
  station.panel = &panel;
  zephor::device::DeviceInfo info;
  info.equipmentNumber = 1234;
  info.build = kBuildWithAColumn;

  station.grade = kConversionGrade;
  const double conversionSeconds = BestSeconds([&] {
    return zephor::database::ProcessSavedDatabase(station, info, dir) ==
           SavedDatabaseOutcome::kConverted;
  });
  station.grade = zephor::database::kReportGrade;
  const double reportSeconds = BestSeconds([&] {
    return zephor::database::ProcessSavedDatabase(station, info, dir) ==
           SavedDatabaseOutcome::kReportWritten;
  });

  if (copySeconds <= 0.0 || conversionSeconds <= 0.0 || reportSeconds <= 0.0) {
    std::fprintf(stderr, "a step failed: copy %.3f s, conversion %.3f s, report %.3f s\n",
                 copySeconds, conversionSeconds, reportSeconds);
    return 1;
  }
  const double copyRate = Rate(data.size(), copySeconds);
  const double conversionRate = Rate(data.size(), conversionSeconds);
  const double reportRate = Rate(data.size(), reportSeconds);
  std::printf(
      "copy %.1f MB/s  conversion %.1f MB/s (%.2f of copy)  report %.1f MB/s (%.2f of copy)\n",
      copyRate, conversionRate, conversionRate / copyRate, reportRate, reportRate / copyRate);
  std::printf("conversion file %ju bytes, report file %ju bytes, %ld log lines, %ld messages\n",
              SizeOf(dir / zephor::database::kConversionFileName),
              SizeOf(dir / zephor::database::kReportFileName), panel.lines, panel.messages);
  fs::remove_all(dir, error);
  return 0;
}
