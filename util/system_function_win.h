// Run-time lookup of system functions that not every supported Windows has:
// the stub imports nothing that XP lacks, so newer calls (and ntdll's native
// ones) are found here, in a module the process has already loaded.
#pragma once

#include <windows.h>

// Null when the module is not loaded or lacks the function.
template <typename Fn>
Fn SystemFunction(const wchar_t* module, const char* name) {
  HMODULE loaded = GetModuleHandleW(module);
  // Through void* so the cast to the real signature is explicit and warning-free.
  return loaded ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(loaded, name))) : nullptr;
}
