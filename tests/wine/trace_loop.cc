// Test program for the log writer: traces in loops as its arguments say, in
// order, then waits for the log like the stub does at exit.
//   lines:N       N lines "loop <i>" as fast as possible
//   batches:N     N lines "batch <i>", each written to the log before the next
//   hold:N        N lines "held <i>" while the writer thread is suspended
//   unicode       one line with characters beyond U+00FF
//   until-gone:S  a line "tick <i>" every 500 ms until the registry value
//                 "qxdbg" is gone, then three lines "after <i>"; exit code 3
//                 when it is still there after S seconds
// Prints its process identifier on standard output.
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

int Count(const char* arg, const char* name) {
  const size_t n = std::strlen(name);
  return std::strncmp(arg, name, n) == 0 ? std::atoi(arg + n) : -1;
}

bool ConfigValuePresent() {
  RegKey key;
  return key.OpenMachine64(L"SOFTWARE\\Kestrowan", KEY_READ) &&
         RegQueryValueExW(key.get(), L"qxdbg", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

// Suspends (or resumes) every other thread of this process: the log writer,
// so that lines pile up in its queue as they would behind a slow disk.
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

}  // namespace

int main(int argc, char** argv) {
  int code = 0;
  for (int a = 1; a < argc; ++a) {
    const char* arg = argv[a];
    int n;
    if ((n = Count(arg, "lines:")) >= 0) {
      for (int i = 0; i < n; ++i) DebugTrace("loop %d\n", i);
    } else if ((n = Count(arg, "batches:")) >= 0) {
      for (int i = 0; i < n; ++i) {
        DebugTrace("batch %d\n", i);
        logger::Instance().Flush(5000);
      }
    } else if ((n = Count(arg, "hold:")) >= 0) {
      DebugTrace("hold start\n");
      logger::Instance().Flush(5000);
      Sleep(300);  // the writer is back in its wait and holds no lock
      std::vector<HANDLE> suspended = SuspendOthers();
      for (int i = 0; i < n; ++i) DebugTrace("held %d\n", i);
      for (HANDLE thread : suspended) {
        ResumeThread(thread);
        CloseHandle(thread);
      }
      // Until the writer takes the full queue, further lines would be dropped too.
      logger::Instance().Flush(5000);
      DebugTrace("hold end, %d threads held\n", static_cast<int>(suspended.size()));
    } else if (std::strcmp(arg, "unicode") == 0) {
      DebugTrace("text \xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80\n");
    } else if ((n = Count(arg, "until-gone:")) >= 0) {
      code = 3;
      for (int i = 0; i < n * 2; ++i) {
        DebugTrace("tick %d\n", i);
        if (!ConfigValuePresent()) {
          for (int j = 0; j < 3; ++j) {
            Sleep(500);
            DebugTrace("after %d\n", j);
          }
          code = 0;
          break;
        }
        Sleep(500);
      }
    }
  }
  std::printf("pid %lu\n", static_cast<unsigned long>(GetCurrentProcessId()));
  std::fflush(stdout);
  DebugTrace("last line\n");
  FlushLogAtExit();
  return code;
}
