// The build gives this source alone the version and the commit, so a new commit compiles only it.
#include "cli/program_version.h"

namespace zephor::cli {

std::string ProgramVersion() {
  return std::string("zephor ") + ZEPHOR_VERSION + " (commit " + ZEPHOR_COMMIT + ")";
}

}  // namespace zephor::cli
