// Install-script rules: trimming, tag selection, destination safety, progress.
#include <gtest/gtest.h>

#include "InstallerLogic/install_script.h"

namespace {

ScriptConditions System(bool windows64, uint32_t major, const char* type = "gui") {
  return ScriptConditions{windows64, major, type};
}

TEST(InstallScript, SplitKeepsEmptyPieces) {
  EXPECT_EQ(SplitString(",a,", ','), (std::vector<std::string>{"", "a", ""}));
  EXPECT_EQ(SplitString("", ','), (std::vector<std::string>{""}));
}

TEST(InstallScript, TrimsOnlyAsciiBlanksAndControls) {
  EXPECT_EQ(TrimScriptLine(" \t\r\x01" "dep-gui,f,a.dll \n"), "dep-gui,f,a.dll");
  // A file name that begins and ends with a non-ASCII letter keeps its bytes.
  EXPECT_EQ(TrimScriptLine(" dep-gui,f,\xC3\xA9t\xC3\xA9\n"), "dep-gui,f,\xC3\xA9t\xC3\xA9");
  EXPECT_EQ(TrimScriptLine(" \t "), "");
}

TEST(InstallScript, TagConditions) {
  struct Case {
    const char* tag;
    bool on64, on32, onXp, onVista;  // 64-bit 10, 32-bit 10, 32-bit 5, 32-bit 6; gui
  } cases[] = {
      {"dep-gui", true, true, true, true},
      {"dep-x64-gui", true, false, false, false},
      {"dep-x86-gui", false, true, true, true},
      {"dep-w6+-gui", true, true, false, true},
      {"dep-w<6-gui", false, false, true, false},
      {"dep-x86-x64-gui", false, false, false, false},
      {"dep-w6+-w<6-gui", false, false, false, false},
      {"file-gui", false, false, false, false},
      {"DEP-gui", false, false, false, false},
      {"dep-silent", false, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tag);
    EXPECT_EQ(TagSelects(c.tag, System(true, 10)), c.on64);
    EXPECT_EQ(TagSelects(c.tag, System(false, 10)), c.on32);
    EXPECT_EQ(TagSelects(c.tag, System(false, 5)), c.onXp);
    EXPECT_EQ(TagSelects(c.tag, System(false, 6)), c.onVista);
  }
  EXPECT_TRUE(TagSelects("dep-gui-silent", System(false, 6, "silent")));
  EXPECT_FALSE(TagSelects("dep-gui", System(false, 6, "silent")));
}

TEST(InstallScript, DestinationsStayInsideTheWorkspace) {
  for (const char* safe : {"a.dll", "bin\\x86\\a.dll", "bin/a.dll", " a.dll", "a..b", ".hidden"})
    EXPECT_TRUE(IsSafeDestination(std::string(safe))) << safe;
  for (const char* unsafe : {"", "\\a.dll", "/a.dll", "C:\\a.dll", "c:a.dll", "a.dll:stream", "..\\a",
                             "bin\\..\\..\\a", "bin/../a", ".\\a", "bin\\.", "bin\\", "bin\\\\a",
                             "...\\a", ". .\\a", "\\\\?\\C:\\a"})
    EXPECT_FALSE(IsSafeDestination(std::string(unsafe))) << unsafe;
  EXPECT_FALSE(IsSafeDestination(std::wstring(L"bin\\..\\a")));
  EXPECT_FALSE(IsSafeDestination(std::wstring(L"a\0b", 3)));
}

// Whatever the platform could resolve to the workspace's setup.exe counts;
// a folder of that name or a longer name does not.
TEST(InstallScript, DestinationsThatMayNameSetupExe) {
  for (const wchar_t* may : {L"setup.exe", L"SETUP.EXE", L"Setup.Exe. .", L"\u017Fetup.exe"})
    EXPECT_TRUE(MayNameWorkspaceFile(may, L"setup.exe")) << may;
  for (const wchar_t* not_it : {L"setup.ex", L"setup.exe2", L"bin\\setup.exe", L"setup.exe\\a",
                                L"setup_exe", L"xsetup.exe"})
    EXPECT_FALSE(MayNameWorkspaceFile(not_it, L"setup.exe")) << not_it;
}

TEST(InstallScript, ClassifiesLines) {
  const ScriptConditions gui = System(false, 10);
  EXPECT_EQ(ClassifyScriptLine("", gui).kind, ScriptLineKind::kIgnored);
  EXPECT_EQ(ClassifyScriptLine("# dep-gui,f,a", gui).kind, ScriptLineKind::kIgnored);
  EXPECT_EQ(ClassifyScriptLine("dep-silent,f,a", gui).kind, ScriptLineKind::kNotSelected);
  EXPECT_EQ(ClassifyScriptLine("dep-gui,f", gui).kind, ScriptLineKind::kTooFewFields);
  EXPECT_EQ(ClassifyScriptLine("dep-gui,f,..\\a", gui).kind, ScriptLineKind::kUnsafeDestination);
  const ScriptLine line = ClassifyScriptLine("dep-gui, f, a.dll,extra", gui);
  EXPECT_EQ(line.kind, ScriptLineKind::kSelected);
  EXPECT_EQ(line.record, " f");
  EXPECT_EQ(line.destination, " a.dll");
}

TEST(InstallScript, ProgressOfThirtyLines) {
  std::vector<int32_t> got;
  for (uint32_t i = 0; i < 30; ++i) got.push_back(ScriptLineProgress(i, 30));
  std::vector<int32_t> want;
  for (int v = 85; v <= 99; ++v) want.insert(want.end(), 2, v);
  EXPECT_EQ(got, want);
}

}  // namespace
