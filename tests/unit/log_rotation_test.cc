#include "diagnostics/log_rotation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(LogRotation, SplitsStemAndExtensionAtTheLastDotOfTheName) {
  const std::vector<std::wstring> cases[] = {
      {L"QxDBG.log", L"QxDBG", L".log"},
      {L"C:\\logs\\run.1.txt", L"C:\\logs\\run.1", L".txt"},
      {L"C:\\logs.d\\trace", L"C:\\logs.d\\trace", L""},  // dot only in a directory
      {L"/var/logs.d/trace", L"/var/logs.d/trace", L""},
      {L"trace", L"trace", L""},
      {L"C:\\my. log", L"C:\\my. log", L""},              // a blank after the dot
  };
  for (const auto& c : cases) {
    const LogPathParts parts = SplitLogPath(c[0]);
    EXPECT_EQ(parts.stem + L"|" + parts.extension, c[1] + L"|" + c[2]);
  }
  EXPECT_EQ(BackupName(SplitLogPath(L"C:\\logs.d\\trace"), 2), L"C:\\logs.d\\trace-2");
}

TEST(LogRotation, StepSequenceForBackupCounts) {
  const std::pair<int32_t, std::wstring> cases[] = {
      {5, L"-Q-5.log Q-4.log>Q-5.log Q-3.log>Q-4.log Q-2.log>Q-3.log Q-1.log>Q-2.log Q.log>Q-1.log "},
      {1, L"-Q-1.log Q.log>Q-1.log "},
      {0, L"-Q-0.log Q.log>Q-1.log "},
  };
  for (const auto& c : cases) {
    std::wstring steps;
    for (const RotationStep& s : RotationSteps(L"Q.log", c.first))
      steps += (s.to.empty() ? L"-" + s.from : s.from + L">" + s.to) + L" ";
    EXPECT_EQ(steps, c.second) << c.first;
  }
}

}  // namespace
