#include "util/phase_profile.h"

#ifdef QX_PROFILE_PHASES
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>

#include "util/system_function_win.h"

namespace {
struct Phases {
  LARGE_INTEGER last{};
  std::string text;
};
// Peak resident size so far, in MB (looked up: the call is not on every Windows).
double PeakMegabytes() {
  using Query = BOOL(WINAPI*)(HANDLE, PPROCESS_MEMORY_COUNTERS, DWORD);
  static const Query query = SystemFunction<Query>(L"kernel32.dll", "K32GetProcessMemoryInfo");
  PROCESS_MEMORY_COUNTERS counters;
  ZeroMemory(&counters, sizeof counters);
  if (!query || !query(GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return static_cast<double>(counters.PeakWorkingSetSize) / 1e6;
}

Phases& State() {
  static Phases phases;
  return phases;
}
}  // namespace

void ProfilePhase(const char* name) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  Phases& p = State();
  if (p.last.QuadPart != 0) {
    char line[128];
    std::snprintf(line, sizeof line, "%s %.1f %.1f\n", name,
                  1000.0 * static_cast<double>(now.QuadPart - p.last.QuadPart) /
                      static_cast<double>(frequency.QuadPart),
                  PeakMegabytes());
    p.text += line;
  }
  p.last = now;
}

void ProfileWrite() {
  Phases& p = State();
  wchar_t path[MAX_PATH];
  const DWORD n = GetEnvironmentVariableW(L"QX_PHASE_PROFILE", path, MAX_PATH);
  if (n > 0 && n < MAX_PATH && !p.text.empty()) {
    HANDLE out = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out != INVALID_HANDLE_VALUE) {
      DWORD put = 0;
      WriteFile(out, p.text.data(), static_cast<DWORD>(p.text.size()), &put, nullptr);
      CloseHandle(out);
    }
  }
  p.text.clear();
}
#endif
