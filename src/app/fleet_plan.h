// A fleet's plan: the instruments its ports answered with, each given a working folder of its own
// named by its equipment number, before anything is loaded on any of them.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "app/info_json.h"
#include "files/disk.h"

namespace zephor::app {

inline constexpr const char* kFleetFolderPrefix = "ZEPHOR-";
// In an instrument's folder: the port its last fleet run was on, one line. An instrument whose
// loader waits for a program on that port again cannot say its number, but is finished there.
inline constexpr const char* kFleetPortFileName = "ZEPHOR.port";

// A port after its identification.
struct FleetMember {
  std::string port;      // as the technician named it, or as zephor ports shows it
  std::string identity;  // what zephor info --json printed; empty when it printed nothing
  std::string said;      // its last word on standard error that was no log line
  // Who holds its device open when no instrument answered: "zephor (process 4242)".
  std::string heldBy;
};

enum class FleetAction {
  kRun,     // updated in folder
  kSkip,    // no ZEPHOR answers and the port was not named: left out
  kRefuse,  // named, but not updated: exitCode and why say why
};

struct FleetEntry {
  FleetMember member;
  InfoAnswer identity;  // what the identification printed, read back
  FleetAction action = FleetAction::kRefuse;
  std::filesystem::path folder;
  int exitCode = 0;
  std::string why;
};

// Plans the fleet in out: each instrument known by its number runs in out/ZEPHOR-<number>
// (made when missing; a link or a file of that name is refused). Two ports that answer with
// the same number are both refused. An instrument whose loader waits for a program cannot say
// its number: it runs in the folder under out whose journal belongs to no instrument of this
// fleet and whose last fleet run was on its port, else in the one such folder when it is the one
// such instrument, and is refused otherwise. A
// port that another program holds is refused (a run of an earlier fleet may still be stopping
// there); one where no ZEPHOR answers is skipped when skipSilent, refused otherwise.
// Folders are looked at and made through disk.
std::vector<FleetEntry> PlanFleet(const std::vector<FleetMember>& members,
                                  const std::filesystem::path& out, bool skipSilent,
                                  files::Disk& disk);

}  // namespace zephor::app
