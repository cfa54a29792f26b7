#include "diagnostics/trace.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "diagnostics/logger.h"
#include "diagnostics/trace_switch.h"
#include "util/platform.h"
#include "util/text_conv.h"

namespace {

constexpr size_t kLineBuffer = 4092;
constexpr size_t kPrefixLength = 13;    // "[T %08x] "
constexpr size_t kMessageRoom = 4078;   // message area given to the formatter

// The switch cache, shared by all threads without a lock: two threads that
// both find the interval expired may both read the registry, which is harmless.
std::atomic<bool> g_state{false};
std::atomic<uint32_t> g_lastRead{0};

std::atomic<TraceSink> g_sink{nullptr};
std::atomic<void*> g_sinkContext{nullptr};

}  // namespace

bool IsTraceEnabled() {
  const uint32_t now = PlatformTickCount();
  const uint32_t interval = 3000u + static_cast<uint32_t>(std::rand() & 31) * 100u;
  if (now - g_lastRead.load(std::memory_order_relaxed) <= interval)
    return g_state.load(std::memory_order_relaxed);
  // Record the attempt first, so a failing read is also retried only later.
  g_lastRead.store(now, std::memory_order_relaxed);
  const bool on = ReadTraceSwitch();
  g_state.store(on, std::memory_order_relaxed);
  return on;
}

void SetTraceSink(TraceSink sink, void* context) {
  g_sinkContext.store(context);
  g_sink.store(sink);
}

void DebugTrace(const char* format, ...) {
  const TraceSink sink = g_sink.load();
  const bool enabled = IsTraceEnabled();
  if (!enabled && !sink) return;

  char line[kLineBuffer];
  std::snprintf(line, kPrefixLength + 1, "[T %08x] ", PlatformThreadId());
  va_list args;
  va_start(args, format);
  std::vsnprintf(line + kPrefixLength, kMessageRoom, format, args);
  va_end(args);

  if (sink) sink(std::string(line), g_sinkContext.load());
  if (!enabled) return;

  // The logger takes the finished line as literal text, before the debugger channel.
  logger::Instance().Write(MultiByteToWide(std::string(line)));
  PlatformDebugOutput(line);
}
