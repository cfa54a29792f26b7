#include "InstallerLogic/workspace_rules.h"

#include <string>

#include "util/text_format.h"

namespace {
wchar_t Fold(wchar_t c, bool ignoreCase) {
  return (ignoreCase && c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}
}  // namespace

bool EndsWith(const std::wstring& text, const std::wstring& suffix, bool ignoreCase) {
  if (suffix.size() > text.size()) return false;
  const size_t start = text.size() - suffix.size();
  for (size_t i = 0; i < suffix.size(); ++i)
    if (Fold(text[start + i], ignoreCase) != Fold(suffix[i], ignoreCase)) return false;
  return true;
}

std::wstring WorkspaceName(uint32_t tick, int64_t time, int random) {
  const std::string name =
      "ITMPD_" + DecimalText(tick) + "_" + DecimalText(time) + "_" + DecimalText(random);
  return std::wstring(name.begin(), name.end());
}

std::wstring WorkspaceSecurityDescriptor(const std::wstring& userSid) {
  // P: protected, so nothing of the (user-writable) temporary directory's
  // access list is inherited. OICI: files and directories inside inherit it.
  std::wstring sddl = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
  if (!userSid.empty()) sddl += L"(A;OICI;FA;;;" + userSid + L")";
  return sddl;
}

TreeEntryAction ClassifyTreeEntry(const std::wstring& name, uint32_t attributes) {
  if (name == L"." || name == L"..") return TreeEntryAction::kSkip;
  const bool directory = (attributes & kAttributeDirectory) != 0;
  // A junction or link may point anywhere, e.g. at a system directory; the
  // elevated clean-up removes the link and leaves its target alone.
  if (attributes & kAttributeReparsePoint)
    return directory ? TreeEntryAction::kRemoveLink : TreeEntryAction::kDeleteFile;
  return directory ? TreeEntryAction::kDescend : TreeEntryAction::kDeleteFile;
}

bool IsCreatedFolder(const FolderId& created, const FolderId& now, uint32_t nowAttributes) {
  return (nowAttributes & (kAttributeDirectory | kAttributeReparsePoint)) == kAttributeDirectory &&
         created.volume == now.volume && created.indexHigh == now.indexHigh &&
         created.indexLow == now.indexLow;
}
