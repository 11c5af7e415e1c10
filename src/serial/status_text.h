// Port status codes in words, for messages that say why a port failed.
#pragma once

#include "serial/status_codes.h"

namespace zephor::serial {

// A few words for a status code ("no such device"); "error" for a code without its own words.
const char* StatusText(int status);

// The words for a refused open: as StatusText, but a -3 whose cause the system gave names that
// cause, and a refused permission says how to get it.
const char* OpenStatusText(int status, OpenRefusal refusal);

}  // namespace zephor::serial
