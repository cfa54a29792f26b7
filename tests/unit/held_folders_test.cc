// What HeldFolders accepts, and that a held path cannot be renamed away where
// the platform can refuse it (Windows; POSIX only checks).
#include <gtest/gtest.h>

#include <string>

#include "test_support.h"
#include "test_support_platform.h"
#include "util/held_folders.h"
#include "util/platform.h"

namespace {

TEST(HeldFolders, HoldsOnlyAPathOfPlainFolders) {
  TempDir dir;
  const std::wstring a = dir.File(L"a"), b = a + kPathSep + L"b";
  ASSERT_TRUE(MakeDirectory(a) && MakeDirectory(b) && WriteWholeFile(dir.File(L"file"), Bytes{'f'}));
  const bool linked = MakeSymbolicLink(dir.File(L"link"), a);
  const struct {
    std::wstring folder;
    bool held;
  } cases[] = {
      {b, true},
      {b + kPathSep, true},
      {dir.File(L"file") + kPathSep + L"b", false},
      {dir.File(L"missing"), false},
      {dir.File(L"link") + kPathSep + L"b", false},
  };
  for (const auto& c : cases) {
    if (!linked && c.folder.find(L"link") != std::wstring::npos) continue;
    SCOPED_TRACE(std::string(c.folder.begin(), c.folder.end()));
    HeldFolders held;
    EXPECT_EQ(held.Hold(c.folder), c.held);
    EXPECT_EQ(held.path(), c.held ? b + kPathSep : std::wstring());
  }
}

TEST(HeldFolders, AHeldFolderCannotBeRenamedAway) {
  if (kPathSep != L'\\') GTEST_SKIP() << "POSIX cannot refuse the rename of an open folder";
  TempDir dir;
  const std::wstring a = dir.File(L"a"), b = a + kPathSep + L"b";
  ASSERT_TRUE(MakeDirectory(a) && MakeDirectory(b));
  HeldFolders held;
  ASSERT_TRUE(held.Hold(b));
  EXPECT_FALSE(MoveFileReplacing(a, dir.File(L"away")));
  EXPECT_FALSE(MoveFileReplacing(b, dir.File(L"away")));
  held.Release();
  EXPECT_TRUE(MoveFileReplacing(a, dir.File(L"away")));
}

}  // namespace
