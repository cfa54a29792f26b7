#include "diagnostics/log_line.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(LogLine, DecorationIsTimeProcessMessageCutAt2047) {
  const LocalTime time{2024, 3, 7, 9, 5, 2};
  EXPECT_EQ(DecorateLogLine(time, 1234, L"[T 000001a4] hello\n"),
            L"2024-03-07 09:05:02 [P 1234] [T 000001a4] hello\n");
  for (size_t length : {2047u, 3000u})
    EXPECT_EQ(DecorateLogLine(time, 7, std::wstring(length, L'm')),
              L"2024-03-07 09:05:02 [P 7] " + std::wstring(2047, L'm'));
}

TEST(LogLine, FileBytesAreUtf8WithCarriageReturns) {
  // e-acute, a CJK character and one beyond the basic plane.
  EXPECT_EQ(LogFileBytes(L"a\n\u00e9 \u4e2d \U0001F600\n"), "a\r\n\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80\r\n");
}

}  // namespace
