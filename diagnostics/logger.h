// The process-wide writer of the diagnostic log file. DebugTrace hands it
// every trace line that passes the trace switch; it stamps the line with the
// local time and the process identifier, filters it, queues it (at most 1000
// lines wait; more are dropped) and a writer thread of its own appends the
// queue to the log file about once a second, rotating the file when it grows
// beyond its limit. The configuration is the registry value read by
// ReadLogConfigValue, re-read every five seconds; "maxRunTime" makes the
// logger delete that value and stop after so many minutes of writing.
//
// Locks: the queue lock guards the queue, the configuration lock the
// settings. Nobody holds both at once; code that must, takes the queue lock
// first. Producers hold either only for in-memory work, never for file I/O.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <string>

#include "diagnostics/log_config.h"
#include "util/sync.h"

class logger {
 public:
  // Creates the instance on first use, which reads the configuration on the
  // calling thread (two seconds when the value is absent) and starts the
  // writer thread. The instance is never destroyed.
  static logger& Instance();
  // The instance, or null while none has been created.
  static logger* Existing();

  // Takes one finished line as literal text (no format directives).
  void Write(const std::wstring& line);

  // Wakes the writer and waits, at most timeoutMs, until every line queued
  // before the call has been written (or dropped because the file could not
  // be opened). True when it got there.
  bool Flush(uint32_t timeoutMs);

 private:
  logger();
  static void RunThread(void* self);

  bool Accepts(const std::wstring& line);
  void ReadConfig();
  void Run();
  void CheckRunTime();
  void WriteQueued();

  std::atomic<bool> running_{true};
  std::atomic<bool> enabled_{true};
  std::atomic<bool> runTimeStarted_{false};
  uint64_t runTimeStart_ = 0;     // writer thread only
  uint32_t lastConfigRead_ = 0;   // writer thread only

  Mutex configLock_;
  LogSettings settings_;

  Mutex queueLock_;
  std::deque<std::wstring> queue_;
  uint64_t queuedTotal_ = 0;               // lines ever queued; under the queue lock
  std::atomic<uint64_t> writtenTotal_{0};  // of those, how many the writer has handled
  AutoResetEvent wake_;                    // a line was queued, or someone waits for the file
  AutoResetEvent batchDone_;               // the writer finished one round

  Thread writer_;
};

// Waits for the log writer to write what is queued, at most about two
// seconds; returns at once when no logger exists. Called before the process
// ends, since lines still queued then would be lost.
void FlushLogAtExit();
