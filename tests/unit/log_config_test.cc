#include "diagnostics/log_config.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "util/text_conv.h"

namespace {

std::string List(const std::vector<std::wstring>& patterns) {
  std::string out;
  for (const std::wstring& p : patterns) out += "[" + WideToMultiByte(p) + "]";
  return out;
}

// The settings after applying `text` to the defaults, in one comparable line.
std::string Applied(const std::wstring& text, LogSettings s = LogSettings()) {
  testing::internal::CaptureStdout();  // the JSON reader's complaints
  ApplyLogConfig(text, &s);
  testing::internal::GetCapturedStdout();
  return std::string(s.enabled ? "on" : "off") + " inc" + List(s.include) + " exc" + List(s.exclude) +
         " " + std::to_string(s.maxFileSize) + " " + std::to_string(s.maxBackups) + " " +
         WideToMultiByte(s.filePath) + " " + std::to_string(s.maxRunTimeMinutes);
}

TEST(LogConfig, AppliesEachKeyOfTheRegistryText) {
  const std::string rest = " 5242880 5 QxDBG.log 0";
  struct Case {
    const wchar_t* text;
    std::string expected;
  } cases[] = {
      {L"{\"enable\":1}", "on inc exc" + rest},
      {L"{\"enable\":true}", "off inc exc" + rest},
      {L"{}", "off inc exc" + rest},
      {L"[{\"enable\":1}]", "off inc exc" + rest},
      {L"{\"enable\":1,\"include\":[\"a\",\"b\"],\"exclude\":[\"Cleanup\"]}", "on inc[a][b] exc[Cleanup]" + rest},
      {L"{\"include\":\"a\",\"exclude\":{\"b\":1}}", "off inc exc" + rest},
      {L"{\"include\":[\"a\",5,null,\"\"]}", "off inc[a][][][] exc" + rest},
      {L"{\"maxFileSizeMb\":0,\"maxBackupsCount\":1,\"maxRunTime\":1,\"filePath\":\"C:\\\\l\\\\x.txt\"}",
       "off inc exc 0 1 C:\\l\\x.txt 1"},
      {L"{\"maxFileSizeMb\":\"7\",\"maxBackupsCount\":1.5,\"filePath\":7}", "off inc exc 0 0  0"},
      // Only the low byte of each UTF-16 unit is kept (U+0141 reads as 'A');
      // other characters arrive through \u escapes.
      {L"{\"include\":[\"\u0141\"],\"filePath\":\"\\u00e9\"}", "off inc[A] exc 5242880 5 \xC3\xA9 0"},
  };
  for (const Case& c : cases) EXPECT_EQ(Applied(c.text), c.expected) << WideToMultiByte(c.text);
}

TEST(LogConfig, ListsAreReplacedAndAbsentLimitsKept) {
  LogSettings s;
  ApplyLogConfig(L"{\"include\":[\"x\"],\"maxBackupsCount\":2,\"filePath\":\"a.log\"}", &s);
  EXPECT_EQ(Applied(L"{\"enable\":1}", s), "on inc exc 5242880 2 a.log 0");
}

TEST(LogConfig, LimitsAreClampedInsteadOfWrapping) {
  const std::pair<int64_t, uint32_t> sizes[] = {
      {1, 1048576u}, {4095, 4095u * 1048576u}, {4096, UINT32_MAX}, {int64_t{1} << 40, UINT32_MAX}, {-1, 0u}};
  for (const auto& c : sizes) EXPECT_EQ(MaxFileSizeFromMb(c.first), c.second) << c.first;
  EXPECT_EQ(Applied(L"{\"maxBackupsCount\":5000000000,\"maxRunTime\":5000000000}"),
            "off inc exc 5242880 999 QxDBG.log 2147483647");
  EXPECT_EQ(Applied(L"{\"maxBackupsCount\":-4}"), "off inc exc 5242880 0 QxDBG.log 0");
}

TEST(LogFilter, ExcludeWinsThenIncludeDecides) {
  const std::wstring line = L"2024-01-02 03:04:05 [P 12] [T 000001a4] [INSTALLER] Cleanup done\n";
  struct Case {
    std::vector<std::wstring> include, exclude;
    bool accepted;
  } cases[] = {
      {{}, {}, true},          {{}, {L"Cleanup"}, false},          {{}, {L"cleanup"}, true},
      {{}, {L"[P 12]"}, false}, {{L"x", L"[INSTALLER]"}, {}, true}, {{L"x"}, {}, false},
      {{L"[INSTALLER]"}, {L"Cleanup"}, false},
      {{L""}, {}, true},  // an empty include pattern accepts every line
      {{}, {L""}, false},  // an empty exclude pattern rejects every line
  };
  for (const Case& c : cases)
    EXPECT_EQ(LogLineAccepted(line, c.include, c.exclude), c.accepted) << List(c.include) << List(c.exclude);
}

TEST(LogRunTime, ExpiresAfterWholeMinutes) {
  const uint64_t start = 17000000000000000ull, second = 10000000ull;
  EXPECT_FALSE(RunTimeExpired(start, start + 3600 * second, 0));
  EXPECT_FALSE(RunTimeExpired(start, start + 59 * second, 1));
  EXPECT_TRUE(RunTimeExpired(start, start + 60 * second, 1));
  EXPECT_FALSE(RunTimeExpired(start, start + 119 * second, 2));
  EXPECT_FALSE(RunTimeExpired(start, start - 120 * second, 1));  // the clock went back
}

}  // namespace
