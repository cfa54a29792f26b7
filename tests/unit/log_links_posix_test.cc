// Links planted under the log's names: the elevated writer must neither write
// through them nor rename or delete them. Symbolic links stand in for the
// reparse points that the Windows side refuses the same way.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "diagnostics/log_rotation.h"
#include "test_support.h"
#include "util/platform.h"
#include "util/text_conv.h"

namespace {

void Link(const std::wstring& target, const std::wstring& name) {
  ASSERT_EQ(symlink(WideToMultiByte(target).c_str(), WideToMultiByte(name).c_str()), 0);
}

std::string Contents(const std::wstring& path) {
  Bytes data;
  if (!ReadWholeFile(path, &data)) return "(none)";
  return std::string(data.begin(), data.end());
}

TEST(LogLinks, AppendRefusesALinkUnderTheName) {
  TempDir dir;
  const std::wstring victim = dir.File(L"victim"), log = dir.File(L"x.log");
  ASSERT_TRUE(WriteWholeFile(victim, Bytes{'v'}));
  Link(victim, log);
  File f;
  EXPECT_FALSE(f.Open(log, FileAccess::kAppend));
  EXPECT_EQ(Contents(victim), "v");
  EXPECT_TRUE(IsReparsePoint(log));
  EXPECT_FALSE(IsReparsePoint(victim));
  EXPECT_FALSE(IsReparsePoint(dir.File(L"missing")));
}

TEST(LogLinks, RotationSkipsStepsThatTouchALink) {
  TempDir dir;
  const std::wstring victim = dir.File(L"victim"), log = dir.File(L"x.log");
  ASSERT_TRUE(WriteWholeFile(victim, Bytes{'v'}));
  ASSERT_TRUE(WriteWholeFile(log, Bytes{'c'}));
  ASSERT_TRUE(WriteWholeFile(dir.File(L"x-1.log"), Bytes{'1'}));
  ASSERT_TRUE(WriteWholeFile(dir.File(L"x-3.log"), Bytes{'3'}));
  Link(victim, dir.File(L"x-2.log"));

  // Steps: delete x-3; x-2>x-3 and x-1>x-2 touch the link; x>x-1.
  RotateLogFiles(log, 3);
  EXPECT_EQ(Contents(dir.File(L"x-3.log")), "(none)");
  EXPECT_TRUE(IsReparsePoint(dir.File(L"x-2.log")));
  EXPECT_EQ(Contents(dir.File(L"x-1.log")), "c");
  EXPECT_EQ(Contents(log), "(none)");
  EXPECT_EQ(Contents(victim), "v");

  // A link as the oldest backup is neither deleted nor replaced.
  ASSERT_TRUE(WriteWholeFile(log, Bytes{'n'}));
  RotateLogFiles(log, 2);
  EXPECT_TRUE(IsReparsePoint(dir.File(L"x-2.log")));
  EXPECT_EQ(Contents(dir.File(L"x-1.log")), "n");
  EXPECT_EQ(Contents(victim), "v");
}

}  // namespace
