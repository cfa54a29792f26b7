// Links planted under the log's names: the elevated writer neither writes
// through them nor renames or deletes them. Symbolic links stand in for the
// reparse points that the Windows side refuses the same way.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "diagnostics/log_rotation.h"
#include "test_support.h"
#include "util/platform.h"
#include "util/text_conv.h"

namespace {

std::string Contents(const std::wstring& path) {
  Bytes data;
  return ReadWholeFile(path, &data) ? std::string(data.begin(), data.end()) : "(none)";
}

TEST(LogLinks, AppendAndRotationLeaveLinksAlone) {
  TempDir dir;
  const std::wstring victim = dir.File(L"victim"), log = dir.File(L"x.log");
  ASSERT_TRUE(WriteWholeFile(victim, Bytes{'v'}));
  ASSERT_TRUE(WriteWholeFile(dir.File(L"x-1.log"), Bytes{'1'}));
  ASSERT_TRUE(WriteWholeFile(dir.File(L"x-3.log"), Bytes{'3'}));
  for (const wchar_t* name : {L"x.log", L"x-2.log"})
    ASSERT_EQ(symlink(WideToMultiByte(victim).c_str(), WideToMultiByte(dir.File(name)).c_str()), 0);
  File f;
  EXPECT_FALSE(f.Open(log, FileAccess::kAppend));

  // Delete x-3; x-2>x-3 and x-1>x-2 touch a link; so does x>x-1.
  RotateLogFiles(log, 3);
  EXPECT_EQ(Contents(dir.File(L"x-3.log")), "(none)");
  EXPECT_EQ(Contents(dir.File(L"x-1.log")), "1");
  EXPECT_TRUE(IsReparsePoint(log) && IsReparsePoint(dir.File(L"x-2.log")));
  EXPECT_EQ(Contents(victim), "v");

  // With a plain file under the log's name only the link steps are skipped.
  ASSERT_TRUE(RemoveFile(log));
  ASSERT_TRUE(f.Open(log, FileAccess::kAppend) && f.Write("c", 1) && f.Open(log, FileAccess::kAppend) &&
              f.Write("d", 1));
  f.Close();
  RotateLogFiles(log, 2);
  EXPECT_EQ(Contents(dir.File(L"x-1.log")), "cd");
  EXPECT_TRUE(IsReparsePoint(dir.File(L"x-2.log")));
  EXPECT_EQ(Contents(victim), "v");
}

}  // namespace
