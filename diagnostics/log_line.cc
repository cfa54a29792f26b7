#include "diagnostics/log_line.h"


#include "util/text_conv.h"
#include "util/text_format.h"

std::wstring DecorateLogLine(const LocalTime& t, uint32_t processId, const std::wstring& message) {
  char head[64];
  FormatText(head, sizeof head, "%04d-%02d-%02d %02d:%02d:%02d [P %lu] ", t.year, t.month, t.day,
                t.hour, t.minute, t.second, static_cast<unsigned long>(processId));
  std::wstring line(head, head + std::char_traits<char>::length(head));
  line.append(message, 0, kMaxLogMessage);
  return line;
}

std::string LogFileBytes(const std::wstring& line) {
  const std::string utf8 = WideToMultiByte(line, true);
  std::string out;
  out.reserve(utf8.size() + 8);
  for (char c : utf8) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}
