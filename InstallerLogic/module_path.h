// The program's own path, read through a GetModuleFileNameW-like call.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Fills at most `capacity` characters and answers how many it stored (0 on
// failure). A path that does not fit answers `capacity`: XP then leaves the
// buffer unterminated, later systems cut one character earlier and terminate.
using ModuleNameReader = std::function<uint32_t(wchar_t* buffer, uint32_t capacity)>;

// The longest path the system can name, terminator included.
constexpr uint32_t kLongestModulePath = 32768;

// Reads with a buffer of `capacity` characters first and a larger one while
// the path is cut, up to kLongestModulePath. Only the characters the call
// stored are taken, never a terminator it may have left out. A path that
// never fits, or a failed call, answers empty: a cut path names another file.
std::wstring ReadModulePath(const ModuleNameReader& read, uint32_t capacity = 1024);
