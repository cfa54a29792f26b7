// Workspace rules: name, access list, suffix test, the clean-up's decision per
// directory entry, and the bitness rule of the script's processor test.
#include <gtest/gtest.h>

#include "InstallerLogic/bitness.h"
#include "InstallerLogic/workspace_rules.h"

namespace {

TEST(WorkspaceRules, NameAndAccessList) {
  EXPECT_EQ(WorkspaceName(5123456, 1733650000, 41), L"ITMPD_5123456_1733650000_41");
  EXPECT_EQ(WorkspaceName(4294967295u, -1, 32767), L"ITMPD_4294967295_-1_32767");
  EXPECT_EQ(WorkspaceSecurityDescriptor(L""), L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
  EXPECT_EQ(WorkspaceSecurityDescriptor(L"S-1-5-21-1-2-3-1000"),
            L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;S-1-5-21-1-2-3-1000)");
}

TEST(WorkspaceRules, EndsWith) {
  EXPECT_TRUE(EndsWith(L"C:\\Temp\\", L"\\", false));
  EXPECT_FALSE(EndsWith(L"C:\\Temp", L"\\", false));
  EXPECT_TRUE(EndsWith(L"x", L"", false));
  EXPECT_FALSE(EndsWith(L"", L"x", false));
  EXPECT_TRUE(EndsWith(L"A.EXE", L".exe", true));
  EXPECT_FALSE(EndsWith(L"A.EXE", L".exe", false));
}

TEST(WorkspaceRules, CleanupNeverEntersLinks) {
  const uint32_t dir = kAttributeDirectory, link = kAttributeReparsePoint, ro = kAttributeReadOnly;
  EXPECT_EQ(ClassifyTreeEntry(L".", dir), TreeEntryAction::kSkip);
  EXPECT_EQ(ClassifyTreeEntry(L"..", dir), TreeEntryAction::kSkip);
  EXPECT_EQ(ClassifyTreeEntry(L"bin", dir), TreeEntryAction::kDescend);
  EXPECT_EQ(ClassifyTreeEntry(L"junction", dir | link), TreeEntryAction::kRemoveLink);
  EXPECT_EQ(ClassifyTreeEntry(L"junction", dir | link | ro), TreeEntryAction::kRemoveLink);
  EXPECT_EQ(ClassifyTreeEntry(L"file-link", link), TreeEntryAction::kDeleteFile);
  EXPECT_EQ(ClassifyTreeEntry(L"a.dll", ro), TreeEntryAction::kDeleteFile);
}

TEST(WorkspaceRules, SixtyFourBitWindows) {
  EXPECT_FALSE(WindowsIs64Bit(false, false));  // 32-bit process on 32-bit Windows
  EXPECT_TRUE(WindowsIs64Bit(false, true));    // 32-bit process under WOW64
  EXPECT_TRUE(WindowsIs64Bit(true, false));    // 64-bit process
}

// The name a WOW64 process gives a folder under the system directory so that
// every view reaches it: only a whole-component prefix moves, without case.
TEST(WorkspaceRules, Wow64Counterpart) {
  const std::wstring sys = L"C:\\Windows\\system32", wow = L"C:\\Windows\\SysWOW64";
  const struct { const wchar_t* dir; const wchar_t* want; } cases[] = {
      {L"C:\\Windows\\system32\\config\\systemprofile\\Temp\\",
       L"C:\\Windows\\SysWOW64\\config\\systemprofile\\Temp\\"},
      {L"c:\\WINDOWS\\SYSTEM32\\Temp\\", L"C:\\Windows\\SysWOW64\\Temp\\"},
      {L"C:\\Windows\\system32\\", L"C:\\Windows\\SysWOW64\\"},
      {L"C:\\Windows\\system32x\\Temp\\", L""},
      {L"C:\\Windows\\system3\\", L""},
      {L"C:\\Users\\me\\AppData\\Local\\Temp\\", L""},
      {L".\\", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(Wow64Counterpart(c.dir, sys, wow), c.want) << c.dir;
  EXPECT_EQ(Wow64Counterpart(L"C:\\Windows\\system32\\T\\", sys + L"\\", wow + L"\\"),
            L"C:\\Windows\\SysWOW64\\T\\");
  EXPECT_EQ(Wow64Counterpart(L"C:\\Windows\\system32\\T\\", sys, L""), L"");
  EXPECT_EQ(Wow64Counterpart(L"C:\\T\\", L"", wow), L"");
}

// At removal the workspace's name is opened again: only the folder created,
// not a stand-in renamed into its place, a junction or a file, is removed.
TEST(WorkspaceRules, OnlyTheCreatedFolderIsRemoved) {
  const FolderId created{7, 1, 42};
  const struct { FolderId now; uint32_t attributes; bool removed; } cases[] = {
      {{7, 1, 42}, kAttributeDirectory, true},
      {{7, 1, 42}, kAttributeDirectory | kAttributeReadOnly, true},
      {{7, 1, 43}, kAttributeDirectory, false},                           // another folder
      {{8, 1, 42}, kAttributeDirectory, false},                           // another volume
      {{7, 0, 42}, kAttributeDirectory, false},
      {{7, 1, 42}, kAttributeDirectory | kAttributeReparsePoint, false},  // a junction
      {{7, 1, 42}, 0, false},                                             // a file
  };
  for (const auto& c : cases)
    EXPECT_EQ(IsCreatedFolder(created, c.now, c.attributes), c.removed) << c.now.indexLow;
}

}  // namespace
