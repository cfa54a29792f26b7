#include "diagnostics/log_config.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "util/text_conv.h"

namespace {

std::string List(const std::vector<std::wstring>& patterns) {
  std::string out = "[";
  for (size_t i = 0; i < patterns.size(); ++i) out += (i ? "|" : "") + WideToMultiByte(patterns[i]);
  return out + "]";
}

// The settings in one comparable line.
std::string Describe(const LogSettings& s) {
  return std::string(s.enabled ? "on" : "off") + " inc" + List(s.include) + " exc" + List(s.exclude) +
         " size=" + std::to_string(s.maxFileSize) + " backups=" + std::to_string(s.maxBackups) +
         " path=" + WideToMultiByte(s.filePath) + " run=" + std::to_string(s.maxRunTimeMinutes);
}

std::string Applied(const std::wstring& text) {
  LogSettings settings;
  testing::internal::CaptureStdout();  // the JSON reader's complaints
  ApplyLogConfig(text, &settings);
  testing::internal::GetCapturedStdout();
  return Describe(settings);
}

const std::string kDefaults = " size=5242880 backups=5 path=QxDBG.log run=0";

TEST(LogConfig, AppliesEachKeyAsTheRegistryTextSaysIt) {
  struct Case {
    const wchar_t* text;
    std::string expected;
  } cases[] = {
      {L"{\"enable\":1}", "on inc[] exc[]" + kDefaults},
      {L"{\"enable\":-3}", "on inc[] exc[]" + kDefaults},
      {L"{\"enable\":true}", "off inc[] exc[]" + kDefaults},
      {L"{\"enable\":\"1\"}", "off inc[] exc[]" + kDefaults},
      {L"{\"enable\":0}", "off inc[] exc[]" + kDefaults},
      {L"{}", "off inc[] exc[]" + kDefaults},
      {L"[{\"enable\":1}]", "off inc[] exc[]" + kDefaults},
      {L"{\"enable\":1,\"include\":[\"a\",\"b\"],\"exclude\":[\"Cleanup\"]}", "on inc[a|b] exc[Cleanup]" + kDefaults},
      {L"{\"include\":\"a\",\"exclude\":{\"b\":1}}", "off inc[] exc[]" + kDefaults},
      {L"{\"include\":[\"a\",5,null,[\"b\"],\"c\"]}", "off inc[a||||c] exc[]" + kDefaults},
      {L"{\"maxFileSizeMb\":0,\"maxBackupsCount\":1,\"maxRunTime\":1,\"filePath\":\"C:\\\\logs\\\\x.txt\"}",
       "off inc[] exc[] size=0 backups=1 path=C:\\logs\\x.txt run=1"},
      {L"{\"maxFileSizeMb\":\"7\",\"maxBackupsCount\":1.5,\"filePath\":7}",
       "off inc[] exc[] size=0 backups=0 path= run=0"},
      // Only the low byte of each UTF-16 unit is kept: U+0141 reads as 'A';
      // a \u escape is how other characters arrive.
      {L"{\"include\":[\"\u0141\"],\"filePath\":\"\\u00e9.log\"}",
       "off inc[A] exc[] size=5242880 backups=5 path=\xC3\xA9.log run=0"},
  };
  for (const Case& c : cases) EXPECT_EQ(Applied(c.text), c.expected) << WideToMultiByte(c.text);
}

TEST(LogConfig, EmptyPatternIsKeptAsAPattern) {
  LogSettings s;
  ApplyLogConfig(L"{\"exclude\":[\"\"]}", &s);
  EXPECT_EQ(s.exclude, std::vector<std::wstring>{L""});
}

TEST(LogConfig, PatternListsAreReplacedAndOtherKeysKeptOnEveryRead) {
  LogSettings s;
  ApplyLogConfig(L"{\"enable\":1,\"include\":[\"x\"],\"maxBackupsCount\":2,\"filePath\":\"a.log\"}", &s);
  ApplyLogConfig(L"{\"enable\":1}", &s);
  EXPECT_EQ(Describe(s), "on inc[] exc[] size=5242880 backups=2 path=a.log run=0");
}

TEST(LogConfig, LimitsAreClampedInsteadOfWrapping) {
  struct Case {
    int64_t megabytes;
    uint32_t bytes;
  } sizes[] = {{0, 0u}, {1, 1048576u}, {5, 5242880u}, {4095, 4095u * 1048576u},
               {4096, UINT32_MAX}, {4097, UINT32_MAX}, {int64_t{1} << 40, UINT32_MAX},
               {-1, 0u}, {INT64_MIN, 0u}};
  for (const Case& c : sizes) EXPECT_EQ(MaxFileSizeFromMb(c.megabytes), c.bytes) << c.megabytes;

  LogSettings s;
  ApplyLogConfig(L"{\"maxBackupsCount\":5000000000,\"maxRunTime\":5000000000}", &s);
  EXPECT_EQ(s.maxBackups, kMaxBackups);
  EXPECT_EQ(s.maxRunTimeMinutes, INT32_MAX);
  ApplyLogConfig(L"{\"maxBackupsCount\":-4}", &s);
  EXPECT_EQ(s.maxBackups, 0);
}

TEST(LogFilter, ExcludeWinsThenIncludeDecides) {
  const std::wstring line = L"2024-01-02 03:04:05 [P 12] [T 000001a4] [INSTALLER] Cleanup done\n";
  struct Case {
    std::vector<std::wstring> include, exclude;
    bool accepted;
  } cases[] = {
      {{}, {}, true},
      {{}, {L"Cleanup"}, false},
      {{}, {L"cleanup"}, true},              // case-sensitive
      {{}, {L"[P 12]"}, false},              // the decoration is part of the line
      {{L"[INSTALLER]"}, {}, true},
      {{L"nothing", L"[INSTALLER]"}, {}, true},
      {{L"nothing"}, {}, false},
      {{L"[INSTALLER]"}, {L"Cleanup"}, false},
      {{L""}, {}, true},                     // an empty include pattern accepts all
      {{}, {L""}, false},                    // an empty exclude pattern rejects all
  };
  for (const Case& c : cases)
    EXPECT_EQ(LogLineAccepted(line, c.include, c.exclude), c.accepted)
        << List(c.include) << " / " << List(c.exclude);
}

TEST(LogRunTime, ExpiresAfterWholeMinutes) {
  const uint64_t start = 17000000000000000ull;
  const uint64_t second = 10000000ull;
  struct Case {
    uint64_t elapsed;
    int32_t limit;
    bool expired;
  } cases[] = {
      {3600 * second, 0, false},  // no limit
      {59 * second, 1, false},  {60 * second, 1, true},   {119 * second, 2, false},
      {120 * second, 2, true},  {0, -1, true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(RunTimeExpired(start, start + c.elapsed, c.limit), c.expired) << c.elapsed << " " << c.limit;
  EXPECT_FALSE(RunTimeExpired(start, start - 120 * second, 1));  // the clock went back
}

}  // namespace
