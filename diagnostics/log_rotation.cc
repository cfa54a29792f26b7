#include "diagnostics/log_rotation.h"

#include "util/held_folders.h"
#include "util/platform.h"
#include "util/text_format.h"

LogPathParts SplitLogPath(const std::wstring& path) {
  const size_t dot = path.rfind(L'.');
  if (dot == std::wstring::npos || path.find_first_of(L"\\/ ", dot) != std::wstring::npos)
    return {path, std::wstring()};
  return {path.substr(0, dot), path.substr(dot)};
}

std::wstring BackupName(const LogPathParts& parts, int32_t number) {
  const std::string digits = DecimalText(number);
  return parts.stem + L"-" + std::wstring(digits.begin(), digits.end()) + parts.extension;
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
    // A link at the target would only be replaced itself, never followed;
    // it is left alone all the same.
    if (!step.to.empty() && IsReparsePoint(step.to)) continue;
    if (step.to.empty())
      RemoveFileNotLink(step.from);
    else
      MoveFileNotLink(step.from, step.to);
  }
}

bool AppendLogBatch(const std::wstring& path, const std::string& bytes, uint32_t maxFileSize,
                    int32_t maxBackups) {
  const size_t slash = path.find_last_of(L"\\/");
  const size_t name = slash == std::wstring::npos ? 0 : slash + 1;
  HeldFolders folders;
  if (!folders.Hold(name == 0 ? std::wstring(L".") : path.substr(0, name))) return false;
  const std::wstring held = folders.path() + path.substr(name);
  File file;
  if (!file.Open(held, FileAccess::kAppend)) return false;
  const bool written = file.Write(bytes.data(), bytes.size());
  const int64_t size = file.Size();
  file.Close();
  if (size > static_cast<int64_t>(maxFileSize)) RotateLogFiles(held, maxBackups);
  return written;
}
