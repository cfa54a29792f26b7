// The setup program's command line survives the platform's splitter unchanged.
#include <gtest/gtest.h>

#include <random>

#include "InstallerLogic/command_line.h"

namespace {

TEST(CommandLine, PlainArgumentsStayAsBefore) {
  EXPECT_EQ(BuildSetupCommandLine(L"W\\setup.exe", {L"/s", L"my dir", L"a\tb\\"}, L"C:\\Dl\\inst.exe"),
            L"\"W\\setup.exe\" /s \"my dir\" \"a\tb\\\\\" \"C:\\Dl\\inst.exe\"");
  EXPECT_EQ(BuildSetupCommandLine(L"S", {L"x\\y"}, L"M"), L"\"S\" x\\y \"M\"");
}

TEST(CommandLine, RoundTripsThroughTheSplitter) {
  const std::vector<std::vector<std::wstring>> fixed = {
      {}, {L""}, {L"a b"}, {L"a\tb"}, {L"say \"hi\""}, {L"dir\\", L"next"}, {L"x\\\\\"y"}, {L"\"\""}};
  std::mt19937 rng(7);
  const wchar_t alphabet[] = L"ab \t\\\"";
  std::vector<std::vector<std::wstring>> all = fixed;
  for (int n = 0; n < 2000; ++n) {
    std::vector<std::wstring> args(rng() % 5);
    for (auto& a : args)
      for (size_t len = rng() % 7; len > 0; --len) a += alphabet[rng() % 6];
    all.push_back(args);
  }
  for (const auto& args : all) {
    const std::vector<std::wstring> split =
        SplitCommandLine(BuildSetupCommandLine(L"C:\\W\\setup.exe", args, L"C:\\Dl\\inst.exe"));
    std::vector<std::wstring> want = {L"C:\\W\\setup.exe"};
    want.insert(want.end(), args.begin(), args.end());
    want.push_back(L"C:\\Dl\\inst.exe");
    ASSERT_EQ(split, want);
  }
}

TEST(CommandLine, SplitterFollowsThePlatform) {
  EXPECT_EQ(SplitCommandLine(L"p a\\\\\"b c\" d\\e \"\"\"x"),
            (std::vector<std::wstring>{L"p", L"a\\b c", L"d\\e", L"\"x"}));
}

}  // namespace
