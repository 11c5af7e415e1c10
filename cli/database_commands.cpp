// db report, db convert, db dump: the saved database on disk, without a port.
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include "cli/commands.h"
#include "database/conversion.h"
#include "database/database_dump.h"
#include "database/record_walk.h"
#include "database/survey_report.h"
#include "device/operator_panel.h"
#include "files/folder_lock.h"

namespace zephor::cli {
namespace {

constexpr char kFileHelp[] = "A saved database as ZEPHORdata.bin holds it";
constexpr char kOutHelp[] = "Directory the report or conversion is written to";
constexpr int kExitBadFile = 2;
constexpr int kExitFolderBusy = 6;
constexpr int kDecimal = 10;

// Log lines and message boxes of the database code, on the terminal; boxes are answered OK.
class TerminalPanel final : public device::OperatorPanel {
 public:
  void AppendLog(std::string_view text) override { std::cout << text; }
  void ClearLog() override {}
  void SetProgress(int) override {}
  void SetProgressRange(int, int) override {}
  bool ShowMessage(std::string_view text, device::MessageButtons) override {
    std::cerr << text << "\n";
    return true;
  }
  void ExitProgram(int code) override { exitCode = code; }
  int exitCode = EXIT_SUCCESS;
};

bool ReadDatabase(const std::string& fileName, std::vector<std::uint8_t>& bytes) {
  std::error_code ec;
  const auto status = std::filesystem::status(fileName, ec);
  if (ec || !std::filesystem::exists(status)) {
    std::cerr << "cannot open " << fileName << ": no such file\n";
    return false;
  }
  // A folder opens like a file here, then fails at its first read.
  if (!std::filesystem::is_regular_file(status)) {
    std::cerr << "cannot open " << fileName
              << ": it is a folder or a device, not a saved database\n";
    return false;
  }
  std::ifstream file(fileName, std::ios::binary);
  if (!file) {
    std::cerr << "cannot open " << fileName << ": not readable\n";
    return false;
  }
  bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  if (file.bad()) {
    std::cerr << "cannot read " << fileName << "\n";
    return false;
  }
  return true;
}

// The walk of the report or of the conversion: the file is whole when the command that writes from
// it reads it to its end.
using RecordWalk = database::WalkEnd (*)(std::span<const std::uint8_t>,
                                         const std::function<bool(const database::Record&)>&);

// What is written from a file that is no whole database is still written, as the restore writes
// it, but the technician is told: "noise.bin is not a whole saved database: 0 surveys, no
// end-of-data byte".
void WarnWhenNotWhole(const std::string& fileName, const std::vector<std::uint8_t>& bytes,
                      RecordWalk walk) {
  std::size_t surveys = 0;
  const database::WalkEnd end = walk(bytes, [&](const database::Record& r) {
    if (r.kind == database::RecordKind::kSurvey) ++surveys;
    return true;
  });
  if (end == database::WalkEnd::kEndOfData) return;
  std::cerr << fileName << " is not a whole saved database: " << surveys
            << (surveys == 1 ? " survey" : " surveys") << ", no end-of-data byte\n";
}

// The folder the report or conversion goes to: it must be there, and no run may write in it
// meanwhile. The exit code when it cannot be used, else 0.
int TakeOutFolder(const std::string& outDir, std::optional<files::FolderLock>& lock) {
  std::error_code ec;
  if (!std::filesystem::is_directory(outDir, ec)) {
    std::cerr << "cannot write to " << outDir << ": no such folder\n";
    return kExitBadFile;
  }
  files::FolderLock taken = files::FolderLock::Take(outDir);
  if (taken.outcome() == files::FolderLock::Outcome::kBusy) {
    std::cerr << "Another update is running in " << outDir << " (process " << taken.holder()
              << "): its report or conversion must not be overwritten now.\n";
    return kExitFolderBusy;
  }
  if (!taken.taken()) {
    std::cerr << "cannot write to " << outDir << ": " << files::kLockFileName << ": " << taken.why()
              << "\n";
    return kExitBadFile;
  }
  lock = std::move(taken);
  return EXIT_SUCCESS;
}

struct DbOptions {
  std::string fileName;
  std::string outDir = ".";
  std::int32_t equipment = 0;
  std::int32_t build = 0;
  bool json = false;
  bool csv = false;
};

int RunReport(const DbOptions& o) {
  std::vector<std::uint8_t> bytes;
  if (!ReadDatabase(o.fileName, bytes)) return kExitBadFile;
  std::optional<files::FolderLock> lock;
  if (const int refused = TakeOutFolder(o.outDir, lock); refused != EXIT_SUCCESS) return refused;
  WarnWhenNotWhole(o.fileName, bytes, database::WalkReportRecords);
  TerminalPanel panel;
  device::Station station;
  station.panel = &panel;
  device::DeviceInfo info;
  info.equipmentNumber = o.equipment;
  info.build = o.build;
  const bool written = database::WriteSurveyReport(station, bytes, info, o.outDir);
  return written ? panel.exitCode : EXIT_FAILURE;
}

int RunConvert(const DbOptions& o) {
  std::vector<std::uint8_t> bytes;
  if (!ReadDatabase(o.fileName, bytes)) return kExitBadFile;
  std::optional<files::FolderLock> lock;
  if (const int refused = TakeOutFolder(o.outDir, lock); refused != EXIT_SUCCESS) return refused;
  WarnWhenNotWhole(o.fileName, bytes, database::WalkConversionRecords);
  TerminalPanel panel;
  device::Station station;
  station.panel = &panel;
  const bool converted = database::ConvertDatabase(station, bytes, o.outDir);
  return converted ? panel.exitCode : EXIT_FAILURE;
}

int RunDump(const DbOptions& o) {
  std::vector<std::uint8_t> bytes;
  if (!ReadDatabase(o.fileName, bytes)) return kExitBadFile;
  const auto format = o.json  ? database::DumpFormat::kJson
                      : o.csv ? database::DumpFormat::kCsv
                              : database::DumpFormat::kText;
  if (database::DumpDatabase(bytes, format, std::cout) != database::WalkEnd::kEndOfData) {
    std::cerr << o.fileName << ": data ends without its end-of-data byte\n";
  }
  return EXIT_SUCCESS;
}

// Numbers on the command line are decimal, leading zeros and all: an equipment number is often
// written with them.
void AddDecimalOption(CLI::App* command, const std::string& name, std::int32_t& value,
                      const std::string& help) {
  command->add_option_function<std::string>(
      name,
      [&value, name](const std::string& text) {
        std::int32_t parsed = 0;
        const char* end = text.data() + text.size();
        const auto [at, error] = std::from_chars(text.data(), end, parsed, kDecimal);
        if (error != std::errc() || at != end) {
          throw CLI::ValidationError(name, "a decimal number is expected, not " + text);
        }
        value = parsed;
      },
      help);
}

}  // namespace

void AddDatabaseCommands(CLI::App& app, int& exitCode) {
  auto o = std::make_shared<DbOptions>();
  CLI::App* db = app.add_subcommand("db", "Read a saved measurement database, offline");
  db->require_subcommand(1);

  CLI::App* report = db->add_subcommand("report", "Write the survey report _Quarvel.txt");
  report->add_option("file", o->fileName, kFileHelp)->required();
  AddDecimalOption(report, "--equipment", o->equipment, "Equipment number printed after NE");
  AddDecimalOption(report, "--build", o->build,
                   "Main program build; 224 and on print the A column");
  report->add_option("--out", o->outDir, kOutHelp);
  report->callback([&exitCode, o] { exitCode = RunReport(*o); });

  CLI::App* convert = db->add_subcommand("convert", "Write _Conversion.txt in the 1.40 layout");
  convert->add_option("file", o->fileName, kFileHelp)->required();
  convert->add_option("--out", o->outDir, kOutHelp);
  convert->callback([&exitCode, o] { exitCode = RunConvert(*o); });

  CLI::App* dump = db->add_subcommand("dump", "Print every survey and measurement, decoded");
  dump->add_option("file", o->fileName, kFileHelp)->required();
  auto* json = dump->add_flag("--json", o->json, "JSON instead of text");
  dump->add_flag("--csv", o->csv, "CSV, one row a measurement")->excludes(json);
  dump->callback([&exitCode, o] { exitCode = RunDump(*o); });
}

}  // namespace zephor::cli
