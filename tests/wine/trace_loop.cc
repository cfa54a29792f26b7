// Test program for the log writer. Its arguments, in order:
//   batches:N     N lines "batch <i>", each written to the log before the next
//   hold:N        N lines "held <i>" while the writer thread is suspended
//   until-gone:S  a line "tick <i>" every 500 ms until the registry value
//                 "qxdbg" is gone, then one line "after"; exit code 3 when
//                 it is still there after S seconds
// Then prints its process identifier, traces "last line" and exits as the stub does.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bundle/progress_sink.h"
#include "diagnostics/logger.h"
#include "diagnostics/trace.h"
#include "util/reg_key_win.h"

void ReportProgress(int32_t, int32_t) {}

namespace {

// Suspends every other thread of this process (the log writer), so that lines
// pile up in the queue as they would behind a slow disk.
std::vector<HANDLE> SuspendOthers() {
  std::vector<HANDLE> suspended;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != GetCurrentProcessId() || entry.th32ThreadID == GetCurrentThreadId())
      continue;
    HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID);
    if (thread && SuspendThread(thread) != static_cast<DWORD>(-1)) suspended.push_back(thread);
  }
  CloseHandle(snapshot);
  return suspended;
}

bool ConfigValuePresent() {
  RegKey key;
  return key.OpenMachine64(L"SOFTWARE\\Kestrowan", KEY_READ) &&
         RegQueryValueExW(key.get(), L"qxdbg", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

}  // namespace

int main(int argc, char** argv) {
  int code = 0;
  for (int a = 1; a < argc; ++a) {
    const char* arg = argv[a];
    const char* colon = std::strchr(arg, ':');
    const int n = colon ? std::atoi(colon + 1) : 0;
    if (std::strncmp(arg, "batches:", 8) == 0) {
      for (int i = 0; i < n; ++i) {
        DebugTrace("batch %d\n", i);
        logger::Instance().Flush(5000);
      }
    } else if (std::strncmp(arg, "hold:", 5) == 0) {
      DebugTrace("hold start\n");
      logger::Instance().Flush(5000);
      Sleep(300);  // the writer is back in its wait and holds no lock
      std::vector<HANDLE> suspended = SuspendOthers();
      for (int i = 0; i < n; ++i) DebugTrace("held %d\n", i);
      for (HANDLE thread : suspended) {
        ResumeThread(thread);
        CloseHandle(thread);
      }
      logger::Instance().Flush(5000);  // until the writer takes the full queue
      DebugTrace("hold end, %d threads held\n", static_cast<int>(suspended.size()));
    } else if (std::strncmp(arg, "until-gone:", 11) == 0) {
      code = 3;
      for (int i = 0; i < n * 2 && code; ++i) {
        DebugTrace("tick %d\n", i);
        if (!ConfigValuePresent()) code = 0;
        Sleep(500);
      }
      DebugTrace("after\n");
    }
  }
  std::printf("pid %lu\n", static_cast<unsigned long>(GetCurrentProcessId()));
  std::fflush(stdout);
  DebugTrace("last line\n");
  FlushLogAtExit();
  return code;
}
