// Tells a run under Wine from one on Windows, for the few checks Wine's serial layer cannot honour.
#pragma once

namespace zephor::serial {

// True when ntdll exports Wine's version query.
bool RunningUnderWine();

}  // namespace zephor::serial
