#include "InstallerLogic/bitness.h"

#include "InstallerLogic/workspace_rules.h"

std::wstring Wow64Counterpart(const std::wstring& dir, const std::wstring& systemDir,
                              const std::wstring& wow64Dir) {
  std::wstring system = systemDir;
  if (!EndsWith(system, L"\\", false)) system += L'\\';
  if (systemDir.empty() || wow64Dir.empty() || dir.size() < system.size() ||
      !EndsWith(dir.substr(0, system.size()), system, true))
    return std::wstring();
  std::wstring result = wow64Dir;
  if (!EndsWith(result, L"\\", false)) result += L'\\';
  return result + dir.substr(system.size());
}
