#include "diagnostics/trace.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

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
// The thread whose lines are kept (0: none) and where they go; the vector is
// touched only by that thread.
std::atomic<uint32_t> g_deferringThread{0};
std::vector<std::string>* g_deferred = nullptr;

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

TraceDeferral::TraceDeferral() {
  g_deferred = &messages_;
  g_deferringThread.store(PlatformThreadId());
}

TraceDeferral::~TraceDeferral() {
  g_deferringThread.store(0);
  g_deferred = nullptr;
}

std::vector<std::string> TraceDeferral::Take() { return std::move(messages_); }

void ReplayTrace(const std::vector<std::string>& messages) {
  for (const std::string& message : messages) DebugTrace("%s", message.c_str());
}

void DebugTrace(const char* format, ...) {
  const uint32_t deferring = g_deferringThread.load();
  if (deferring != 0 && deferring == PlatformThreadId()) {
    // Cut where a traced line would be, so that the replay traces the same text.
    char message[kMessageRoom];
    va_list args;
    va_start(args, format);
    FormatTextV(message, sizeof message, format, args);
    va_end(args);
    try {
      g_deferred->emplace_back(message);
    } catch (...) {
    }
    return;
  }
  const TraceSink sink = g_sink.load();
  const bool enabled = IsTraceEnabled();
  if (!enabled && !sink) return;

  char line[kLineBuffer];
  FormatText(line, kPrefixLength + 1, "[T %08x] ", PlatformThreadId());
  va_list args;
  va_start(args, format);
  FormatTextV(line + kPrefixLength, kMessageRoom, format, args);
  va_end(args);

  if (sink) sink(std::string(line), g_sinkContext.load());
  if (!enabled) return;

  // The logger takes the finished line as literal text, before the debugger channel.
  logger::Instance().Write(MultiByteToWide(std::string(line)));
  PlatformDebugOutput(line);
}
