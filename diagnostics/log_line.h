// The log file's line format, free of platform calls: the decoration a line
// gets when it is queued and the bytes it becomes in the file.
#pragma once

#include <cstdint>
#include <string>

struct LocalTime {
  int year, month, day, hour, minute, second;
};

// Lines longer than this are cut when they are decorated.
constexpr size_t kMaxLogMessage = 2047;

// "YYYY-MM-DD hh:mm:ss [P pid] " followed by the message, cut after
// kMaxLogMessage characters. No line end is added.
std::wstring DecorateLogLine(const LocalTime& time, uint32_t processId, const std::wstring& message);

// The bytes of a line in the file: UTF-8, every line feed written as carriage
// return and line feed (the file is read as text on Windows).
std::string LogFileBytes(const std::wstring& line);
