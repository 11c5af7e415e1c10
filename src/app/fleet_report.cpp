// An identification that printed nothing, or no JSON, is null in the report.
#include "app/fleet_report.h"

#include <algorithm>
#include <array>
#include <nlohmann/json.hpp>

#include "app/exit_codes.h"

namespace zephor::app {
namespace {

using ordered_json = nlohmann::ordered_json;

constexpr int kJsonIndent = 2;
// From the least to the most in need of attention; a code not listed ranks above them all.
constexpr std::array kRanking{
    kExitDone,         kExitCancelled,     kExitBadUsage,         kExitFolderBusy,
    kExitNoInstrument, kExitUpdateStopped, kExitRestoreIncomplete};

std::size_t Rank(int code) {
  const auto found = std::find(kRanking.begin(), kRanking.end(), code);
  return found == kRanking.end() ? kRanking.size() + static_cast<std::size_t>(code)
                                 : static_cast<std::size_t>(found - kRanking.begin());
}

ordered_json Identification(const std::string& printed) {
  if (printed.empty()) return nullptr;
  ordered_json parsed = ordered_json::parse(printed, nullptr, false);
  return parsed.is_discarded() ? ordered_json(nullptr) : parsed;
}

}  // namespace

int WorstExitCode(const std::vector<int>& codes) {
  int worst = kExitDone;
  for (const int code : codes) {
    if (Rank(code) > Rank(worst)) worst = code;
  }
  return worst;
}

std::string FleetReportJson(const std::deque<FleetRow>& rows, const FleetTotals& totals) {
  ordered_json instruments = ordered_json::array();
  for (const FleetRow& row : rows) {
    instruments.push_back({{"port", row.port},
                           {"equipmentNumber", row.equipment},
                           {"folder", row.folder.string()},
                           {"before", Identification(row.before)},
                           {"after", Identification(row.after)},
                           {"imagesLoaded", row.imagesLoaded},
                           {"filesWritten", row.filesWritten},
                           {"exitCode", row.exitCode},
                           {"result", FleetResultText(row.exitCode)},
                           {"durationMs", row.durationMs},
                           {"lastWord", row.note}});
  }
  const ordered_json report{{"images", totals.images.string()},
                            {"out", totals.out.string()},
                            {"exitCode", totals.exitCode},
                            {"durationMs", totals.durationMs},
                            {"instruments", instruments}};
  return report.dump(kJsonIndent, ' ', false, ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace zephor::app
