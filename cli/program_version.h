// What zephor --version tells: the project's version and the commit it was built from.
#pragma once

#include <string>

namespace zephor::cli {

std::string ProgramVersion();

}  // namespace zephor::cli
