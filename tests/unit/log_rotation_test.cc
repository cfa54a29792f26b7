#include "diagnostics/log_rotation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"
#include "util/platform.h"

namespace {

TEST(LogRotation, SplitsStemAndExtensionAtTheLastDotOfTheName) {
  struct Case {
    const wchar_t* path;
    const wchar_t* stem;
    const wchar_t* extension;
  } cases[] = {
      {L"QxDBG.log", L"QxDBG", L".log"},
      {L"C:\\logs\\run.1.txt", L"C:\\logs\\run.1", L".txt"},
      {L"C:\\logs.d\\trace", L"C:\\logs.d\\trace", L""},  // dot only in a directory
      {L"/var/logs.d/trace", L"/var/logs.d/trace", L""},
      {L"trace", L"trace", L""},                          // no dot
      {L"C:\\my. log", L"C:\\my. log", L""},              // a blank after the dot
      {L".log", L"", L".log"},
  };
  for (const Case& c : cases) {
    const LogPathParts parts = SplitLogPath(c.path);
    EXPECT_EQ(parts.stem, c.stem);
    EXPECT_EQ(parts.extension, c.extension);
  }
  EXPECT_EQ(BackupName(SplitLogPath(L"C:\\logs.d\\trace"), 2), L"C:\\logs.d\\trace-2");
}

std::vector<std::wstring> Describe(const std::vector<RotationStep>& steps) {
  std::vector<std::wstring> out;
  for (const RotationStep& s : steps) out.push_back(s.to.empty() ? L"del " + s.from : s.from + L">" + s.to);
  return out;
}

TEST(LogRotation, StepSequenceForBackupCounts) {
  struct Case {
    int32_t backups;
    std::vector<std::wstring> steps;
  } cases[] = {
      {5, {L"del Q-5.log", L"Q-4.log>Q-5.log", L"Q-3.log>Q-4.log", L"Q-2.log>Q-3.log",
           L"Q-1.log>Q-2.log", L"Q.log>Q-1.log"}},
      {1, {L"del Q-1.log", L"Q.log>Q-1.log"}},
      {0, {L"del Q-0.log", L"Q.log>Q-1.log"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Describe(RotationSteps(L"Q.log", c.backups)), c.steps) << c.backups;
}

std::string Contents(const std::wstring& path) {
  Bytes data;
  if (!ReadWholeFile(path, &data)) return "(none)";
  return std::string(data.begin(), data.end());
}

TEST(LogRotation, AppendsThenRotatesRealFiles) {
  TempDir dir;
  const std::wstring log = dir.File(L"x.log");
  for (const char* text : {"one\n", "two\n"}) {
    File f;
    ASSERT_TRUE(f.Open(log, FileAccess::kAppend));
    ASSERT_TRUE(f.Write(text, 4));
  }
  ASSERT_TRUE(WriteWholeFile(dir.File(L"x-1.log"), Bytes{'o', 'l', 'd'}));
  ASSERT_TRUE(WriteWholeFile(dir.File(L"x-2.log"), Bytes{'g', 'o', 'n', 'e'}));

  RotateLogFiles(log, 2);
  EXPECT_EQ(Contents(log), "(none)");
  EXPECT_EQ(Contents(dir.File(L"x-1.log")), "one\ntwo\n");
  EXPECT_EQ(Contents(dir.File(L"x-2.log")), "old");
  EXPECT_EQ(Contents(dir.File(L"x-3.log")), "(none)");
}

}  // namespace
