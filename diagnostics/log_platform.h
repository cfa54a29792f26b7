// The log writer's platform services: the registry value that holds its
// configuration (HKLM "SOFTWARE\Kestrowan", value "qxdbg", 64-bit view), the
// clocks and the process identifier. Host builds have no registry: the value
// reads as absent there and nothing is deleted.
#pragma once

#include <cstdint>
#include <string>

#include "diagnostics/log_line.h"

// The value's text: at most 8192 bytes of UTF-16, up to its first NUL. False
// when the value is missing, unreadable, larger or empty.
bool ReadLogConfigValue(std::wstring* text);
// Deletes the value; failures are ignored.
void DeleteLogConfigValue();

LocalTime LocalTimeNow();
// 100-nanosecond units since 1970-01-01 UTC.
uint64_t UtcNow100ns();
uint32_t CurrentProcessId();
void SleepMilliseconds(uint32_t ms);
