#include "diagnostics/log_line.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const LocalTime kTime{2024, 3, 7, 9, 5, 2};

TEST(LogLine, DecorationIsTimeThenProcessThenMessage) {
  EXPECT_EQ(DecorateLogLine(kTime, 1234, L"[T 000001a4] hello\n"),
            L"2024-03-07 09:05:02 [P 1234] [T 000001a4] hello\n");
  EXPECT_EQ(DecorateLogLine(LocalTime{2031, 12, 31, 23, 59, 59}, 4294967295u, L""),
            L"2031-12-31 23:59:59 [P 4294967295] ");
}

TEST(LogLine, MessageIsCutAfter2047Characters) {
  const std::wstring head = L"2024-03-07 09:05:02 [P 7] ";
  for (size_t length : {2046u, 2047u, 2048u, 3000u}) {
    const std::wstring line = DecorateLogLine(kTime, 7, std::wstring(length, L'm'));
    EXPECT_EQ(line, head + std::wstring(length < 2047 ? length : 2047, L'm')) << length;
  }
}

TEST(LogLine, FileBytesAreUtf8WithCarriageReturns) {
  EXPECT_EQ(LogFileBytes(L"a\nb\n"), "a\r\nb\r\n");
  // e-acute, a CJK character and one beyond the basic plane.
  EXPECT_EQ(LogFileBytes(L"\u00e9 \u4e2d \U0001F600\n"),
            "\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80\r\n");
}

}  // namespace
