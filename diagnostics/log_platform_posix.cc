#include "diagnostics/log_platform.h"

#include <time.h>
#include <unistd.h>

bool ReadLogConfigValue(std::wstring*) { return false; }

void DeleteLogConfigValue() {}

LocalTime LocalTimeNow() {
  const time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
}

uint64_t UtcNow100ns() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 10000000u + static_cast<uint64_t>(ts.tv_nsec) / 100u;
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

void SleepMilliseconds(uint32_t ms) { usleep(static_cast<useconds_t>(ms) * 1000u); }
