// The handle is read from the environment once; a value that is no handle to the process it
// names (a variable that strayed into another program's environment) watches nothing.
#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "process/parent_watch.h"

namespace zephor::process {
namespace {

constexpr DWORD kVariableChars = 64;

HANDLE ParentProcess() {
  char text[kVariableChars];
  const DWORD length = GetEnvironmentVariableA(kParentVariable, text, kVariableChars);
  if (length == 0 || length >= kVariableChars) return nullptr;
  unsigned long long handle = 0;
  unsigned long id = 0;
  if (std::sscanf(text, "%llu:%lu", &handle, &id) != 2) return nullptr;
  const HANDLE parent = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(handle));
  return GetProcessId(parent) == id ? parent : nullptr;
}

}  // namespace

bool ParentEnded() {
  static const HANDLE parent = ParentProcess();
  return parent != nullptr && WaitForSingleObject(parent, 0) == WAIT_OBJECT_0;
}

}  // namespace zephor::process
