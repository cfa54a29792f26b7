// What the log configuration means: the settings the registry's JSON text
// sets, the line filter and the run-time limit. Free of platform calls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct LogSettings {
  bool enabled = true;
  std::vector<std::wstring> include;
  std::vector<std::wstring> exclude;
  uint32_t maxFileSize = 5u * 1048576u;  // bytes
  int32_t maxBackups = 5;
  std::wstring filePath = L"QxDBG.log";  // relative: against the current directory
  int32_t maxRunTimeMinutes = 0;         // 0: no limit
};

// The largest "maxFileSizeMb" that fits 32 bits; larger ones are clamped to
// the largest size rather than wrapped into a small one.
constexpr int64_t kMaxFileSizeMb = 4095;
// "maxBackupsCount" is held to this, so a rotation stays a short loop.
constexpr int32_t kMaxBackups = 999;

// Applies the configuration text (UTF-16 as stored in the registry) to
// `settings`: "enable" (integer, anything else or absent is off), "include"
// and "exclude" (arrays; replaced on every call), "maxFileSizeMb",
// "maxBackupsCount", "filePath", "maxRunTime" (each unchanged when absent).
// Only the low byte of every code unit is kept before the JSON is read, so
// text outside ASCII reaches the settings only through \u escapes.
void ApplyLogConfig(const std::wstring& text, LogSettings* settings);

uint32_t MaxFileSizeFromMb(int64_t megabytes);

// A line is rejected when it contains any exclude pattern, else accepted when
// the include list is empty or it contains any include pattern. Patterns are
// case-sensitive substrings; an empty pattern occurs in every line.
bool LogLineAccepted(const std::wstring& line, const std::vector<std::wstring>& include,
                     const std::vector<std::wstring>& exclude);

// Whether `maxMinutes` whole minutes have passed from `start` to `now`, both
// in 100-nanosecond units. A limit of 0 never expires.
bool RunTimeExpired(uint64_t start, uint64_t now, int32_t maxMinutes);
