#include "diagnostics/log_rotation.h"

#include "util/platform.h"

LogPathParts SplitLogPath(const std::wstring& path) {
  const size_t dot = path.rfind(L'.');
  if (dot == std::wstring::npos || path.find_first_of(L"\\/ ", dot) != std::wstring::npos)
    return {path, std::wstring()};
  return {path.substr(0, dot), path.substr(dot)};
}

std::wstring BackupName(const LogPathParts& parts, int32_t number) {
  return parts.stem + L"-" + std::to_wstring(number) + parts.extension;
}

std::vector<RotationStep> RotationSteps(const std::wstring& path, int32_t maxBackups) {
  const LogPathParts parts = SplitLogPath(path);
  if (maxBackups < 0) maxBackups = 0;
  std::vector<RotationStep> steps;
  steps.push_back({BackupName(parts, maxBackups), std::wstring()});
  for (int32_t n = maxBackups - 1; n >= 1; --n)
    steps.push_back({BackupName(parts, n), BackupName(parts, n + 1)});
  steps.push_back({path, BackupName(parts, 1)});
  return steps;
}

void RotateLogFiles(const std::wstring& path, int32_t maxBackups) {
  for (const RotationStep& step : RotationSteps(path, maxBackups)) {
    if (IsReparsePoint(step.from) || (!step.to.empty() && IsReparsePoint(step.to))) continue;
    if (step.to.empty())
      RemoveFile(step.from);
    else
      MoveFileReplacing(step.from, step.to);
  }
}
