// Process-wide log file writer. Created on first use, never destroyed.
// Until the log writer lands, Write accepts and drops the line.
#pragma once

#include <string>

class logger {
 public:
  static logger& Instance();
  void Write(const std::wstring& line);

 private:
  logger() = default;
};
