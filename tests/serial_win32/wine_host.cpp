// Wine's ntdll carries wine_get_version; Windows' never does.
#include "wine_host.h"

#include <windows.h>

namespace zephor::serial {

bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace zephor::serial
