// The one trace call. A line is produced only while the registry switch
// (HKLM "Software\Kestrowan", value "QXSTR" == "!Tracelog!", 64-bit view) is on;
// it then goes to the logger and to the debugger channel as
// "[T %08x] " + message (message cut at 4077 characters). Never fails.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <vector>

#include "util/text_format.h"

void DebugTrace(const char* format, ...) QX_TEXT_FORMAT(1, 2);
bool IsTraceEnabled();

// Test and tool hook: while a sink is installed every DebugTrace call is also
// formatted and handed to it (whole line, prefix included), whatever the
// switch says. What reaches the debugger channel and the logger is unchanged.
using TraceSink = void (*)(const std::string& line, void* context);
void SetTraceSink(TraceSink sink, void* context);

// While alive, every DebugTrace call of the thread that made it is kept here
// (the message only, whatever the switch says) instead of being traced, so
// that work done ahead on a second thread can report its lines later, where
// the work belongs in the sequence. One thread at a time.
class TraceDeferral {
 public:
  TraceDeferral();
  ~TraceDeferral();
  TraceDeferral(const TraceDeferral&) = delete;
  TraceDeferral& operator=(const TraceDeferral&) = delete;
  // The kept messages, in order; for ReplayTrace once this thread is done.
  std::vector<std::string> Take();

 private:
  std::vector<std::string> messages_;
};

// Traces each message as if DebugTrace had been called with it now.
void ReplayTrace(const std::vector<std::string>& messages);
