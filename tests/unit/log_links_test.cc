// Links planted under the log's names or on its folder's way: the elevated
// writer neither writes through them nor renames or deletes them. Wine makes
// hard links only; POSIX symbolic links stand in for the reparse points that
// Windows refuses the same way.
#include <gtest/gtest.h>

#include <string>

#include "diagnostics/log_rotation.h"
#include "test_support.h"
#include "test_support_platform.h"
#include "util/platform.h"

namespace {

std::string Contents(const std::wstring& path) {
  Bytes data;
  return ReadWholeFile(path, &data) ? std::string(data.begin(), data.end()) : "(none)";
}

TEST(LogLinks, NothingIsWrittenThroughALink) {
  enum Plant { kHardLinkAtLog, kSymbolicLinkAtLog, kLinkedFolder };
  const struct {
    const char* name;
    Plant plant;
  } attacks[] = {{"hard link at the log's name", kHardLinkAtLog},
                 {"symbolic link at the log's name", kSymbolicLinkAtLog},
                 {"linked folder on the way", kLinkedFolder}};
  for (const auto& attack : attacks) {
    SCOPED_TRACE(attack.name);
    TempDir dir;
    const std::wstring victim = dir.File(L"victim");
    ASSERT_TRUE(WriteWholeFile(victim, Bytes{'v'}));
    std::wstring log = dir.File(L"x.log");
    bool planted = false;
    if (attack.plant == kHardLinkAtLog) planted = MakeHardLink(log, victim);
    if (attack.plant == kSymbolicLinkAtLog) planted = MakeSymbolicLink(log, victim);
    if (attack.plant == kLinkedFolder) {
      // "linked" leads back to the folder itself, where x.log would land.
      planted = MakeSymbolicLink(dir.File(L"linked"), dir.path());
      log = dir.File(L"linked") + kPathSep + L"x.log";
    }
    if (!planted) continue;  // a link this platform cannot make
    EXPECT_FALSE(AppendLogBatch(log, "w", 0, 2));
    EXPECT_EQ(Contents(victim), "v");
    EXPECT_EQ(Contents(dir.File(L"x-1.log")), "(none)");
    if (attack.plant == kLinkedFolder) {
      EXPECT_EQ(Contents(dir.File(L"x.log")), "(none)");
    }
  }
}

TEST(LogLinks, RotationLeavesLinksAlone) {
  TempDir dir;
  const std::wstring victim = dir.File(L"victim"), log = dir.File(L"x.log");
  ASSERT_TRUE(WriteWholeFile(victim, Bytes{'v'}));
  ASSERT_TRUE(WriteWholeFile(dir.File(L"x-1.log"), Bytes{'1'}));
  ASSERT_TRUE(WriteWholeFile(dir.File(L"x-3.log"), Bytes{'3'}));
  if (!MakeSymbolicLink(log, victim) || !MakeSymbolicLink(dir.File(L"x-2.log"), victim))
    GTEST_SKIP() << "no symbolic links here";

  // Delete x-3; x-2>x-3 and x-1>x-2 touch a link; so does x>x-1.
  RotateLogFiles(log, 3);
  EXPECT_EQ(Contents(dir.File(L"x-3.log")), "(none)");
  EXPECT_EQ(Contents(dir.File(L"x-1.log")), "1");
  EXPECT_TRUE(IsReparsePoint(log) && IsReparsePoint(dir.File(L"x-2.log")));
  EXPECT_EQ(Contents(victim), "v");

  // With a plain file under the log's name only the link steps are skipped.
  ASSERT_TRUE(RemoveFile(log));
  ASSERT_TRUE(AppendLogBatch(log, "c", 100, 2) && AppendLogBatch(log, "d", 1, 2));
  EXPECT_EQ(Contents(dir.File(L"x-1.log")), "cd");
  EXPECT_TRUE(IsReparsePoint(dir.File(L"x-2.log")));
  EXPECT_EQ(Contents(victim), "v");
}

TEST(LogLinks, PlainLogIsWrittenAndRotated) {
  TempDir dir;
  const std::wstring log = dir.File(L"x.log");
  ASSERT_TRUE(AppendLogBatch(log, "ab", 2, 1));
  ASSERT_TRUE(AppendLogBatch(log, "c", 2, 1));
  EXPECT_EQ(Contents(log), "(none)");
  EXPECT_EQ(Contents(dir.File(L"x-1.log")), "abc");
}

}  // namespace
