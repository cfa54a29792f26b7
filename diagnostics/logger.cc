#include "diagnostics/logger.h"

#include <utility>

#include "diagnostics/log_line.h"
#include "diagnostics/log_platform.h"
#include "diagnostics/log_rotation.h"
#include "util/platform.h"

namespace {

constexpr size_t kQueueLimit = 1000;
constexpr uint32_t kConfigIntervalMs = 5000;
constexpr uint32_t kAbsentConfigPauseMs = 2000;
constexpr uint32_t kIdleWaitMs = 1000;
constexpr uint32_t kExitFlushMs = 2000;

std::atomic<logger*> g_instance{nullptr};

}  // namespace

logger& logger::Instance() {
  // Created once, under the runtime's lock for local statics; deliberately
  // leaked: lines may arrive from any thread until the process ends.
  static logger* instance = [] {
    logger* created = new logger();
    g_instance.store(created);
    return created;
  }();
  return *instance;
}

logger* logger::Existing() { return g_instance.load(); }

logger::logger() {
  ReadConfig();
  // Without a writer nothing would ever leave the queue: accept no lines.
  if (!writer_.Start(&logger::RunThread, this)) running_.store(false);
}

void logger::RunThread(void* self) { static_cast<logger*>(self)->Run(); }

void logger::Write(const std::wstring& message) {
  if (!running_.load() || !enabled_.load()) return;
  std::wstring line = DecorateLogLine(LocalTimeNow(), CurrentProcessId(), message);
  if (!Accepts(line)) return;
  {
    MutexLock lock(queueLock_);
    if (queue_.size() >= kQueueLimit) return;
    queue_.push_back(std::move(line));
    ++queuedTotal_;
  }
  wake_.Set();
}

bool logger::Accepts(const std::wstring& line) {
  MutexLock lock(configLock_);
  return LogLineAccepted(line, settings_.include, settings_.exclude);
}

bool logger::Flush(uint32_t timeoutMs) {
  uint64_t target;
  {
    MutexLock lock(queueLock_);
    target = queuedTotal_;
  }
  const uint32_t start = PlatformTickCount();
  while (writtenTotal_.load() < target) {
    const uint32_t spent = PlatformTickCount() - start;
    if (spent >= timeoutMs) return false;
    wake_.Set();
    batchDone_.Wait(timeoutMs - spent);
  }
  return true;
}

void logger::ReadConfig() {
  std::wstring text;
  if (!ReadLogConfigValue(&text)) {
    enabled_.store(false);
    SleepMilliseconds(kAbsentConfigPauseMs);
    return;
  }
  // Only this thread (and the constructor, before the writer starts) changes
  // the settings, so the copy cannot miss a change; the lock is held only
  // while copying, not while parsing.
  LogSettings next;
  {
    MutexLock lock(configLock_);
    next = settings_;
  }
  ApplyLogConfig(text, &next);
  MutexLock lock(configLock_);
  settings_ = std::move(next);
  enabled_.store(settings_.enabled);
}

void logger::Run() {
  while (running_.load()) {
    const uint32_t now = PlatformTickCount();
    if (now - lastConfigRead_ >= kConfigIntervalMs) {
      lastConfigRead_ = now;
      ReadConfig();
    }
    CheckRunTime();
    bool idle;
    {
      MutexLock lock(queueLock_);
      idle = queue_.empty();
    }
    if (idle) wake_.Wait(kIdleWaitMs);
    WriteQueued();
  }
}

void logger::CheckRunTime() {
  if (!runTimeStarted_.load()) return;
  {
    MutexLock lock(configLock_);
    if (!RunTimeExpired(runTimeStart_, UtcNow100ns(), settings_.maxRunTimeMinutes)) return;
    settings_.maxRunTimeMinutes = 0;
  }
  // If the value survives, the next configuration read switches logging on
  // again and a new period starts with the next written line.
  DeleteLogConfigValue();
  enabled_.store(false);
  runTimeStarted_.store(false);
}

void logger::WriteQueued() {
  std::deque<std::wstring> batch;
  uint64_t taken;
  {
    MutexLock lock(queueLock_);
    batch.swap(queue_);
    taken = queuedTotal_;
  }
  if (!batch.empty()) {
    std::wstring path;
    uint32_t maxFileSize;
    int32_t maxBackups;
    {
      MutexLock lock(configLock_);
      path = settings_.filePath;
      maxFileSize = settings_.maxFileSize;
      maxBackups = settings_.maxBackups;
    }
    std::string bytes;
    for (const std::wstring& line : batch) bytes += LogFileBytes(line);
    // A batch that cannot be written is dropped.
    if (AppendLogBatch(path, bytes, maxFileSize, maxBackups) && !runTimeStarted_.exchange(true))
      runTimeStart_ = UtcNow100ns();
  }
  writtenTotal_.store(taken);
  batchDone_.Set();
}

void FlushLogAtExit() {
  if (logger* instance = logger::Existing()) instance->Flush(kExitFlushMs);
}
