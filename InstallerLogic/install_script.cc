#include "InstallerLogic/install_script.h"

namespace {

template <typename Char>
Char FoldAscii(Char c, bool ignoreCase) {
  return (ignoreCase && c >= Char('A') && c <= Char('Z')) ? static_cast<Char>(c - 'A' + 'a') : c;
}

bool Contains(const std::string& text, const char* needle) {
  return text.find(needle) != std::string::npos;
}

template <typename Char>
bool IsSeparator(Char c) {
  return c == Char('\\') || c == Char('/');
}

// A component made only of dots and blanks is folded by the platform's path
// rules into "." or ".." (or nothing), so it can climb out of the workspace.
template <typename Char>
bool IsDotsAndBlanks(const std::basic_string<Char>& component) {
  for (Char c : component)
    if (c != Char('.') && c != Char(' ')) return false;
  return true;
}

template <typename Char>
bool SafeDestination(const std::basic_string<Char>& path) {
  if (path.empty() || IsSeparator(path.front())) return false;
  std::basic_string<Char> component;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || IsSeparator(path[i])) {
      // An empty component is a doubled or trailing separator.
      if (IsDotsAndBlanks(component)) return false;
      component.clear();
    } else if (path[i] == Char(':') || path[i] == Char(0)) {
      return false;
    } else {
      component += path[i];
    }
  }
  return true;
}

}  // namespace

std::vector<std::string> SplitString(const std::string& text, char separator) {
  std::vector<std::string> pieces(1);
  for (char c : text) {
    if (c == separator)
      pieces.emplace_back();
    else
      pieces.back() += c;
  }
  return pieces;
}

bool StartsWith(const std::string& text, const std::string& prefix, bool ignoreCase) {
  if (prefix.size() > text.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (FoldAscii(text[i], ignoreCase) != FoldAscii(prefix[i], ignoreCase)) return false;
  return true;
}

std::string TrimScriptLine(const std::string& line) {
  // Unsigned reading: a byte of a UTF-8 sequence is never a blank.
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
  size_t begin = 0, end = line.size();
  while (end > 0 && blank(line[end - 1])) --end;
  while (begin < end && blank(line[begin])) ++begin;
  return line.substr(begin, end - begin);
}

std::string TrimRunType(std::string type) {
  while (!type.empty() && static_cast<signed char>(type.back()) <= 0x20) type.pop_back();
  return type;
}

bool TagSelects(const std::string& tag, const ScriptConditions& conditions) {
  if (Contains(tag, "-x86") && conditions.windows64) return false;
  if (Contains(tag, "-x64") && !conditions.windows64) return false;
  if (Contains(tag, "-w6+") && conditions.major_version < 6) return false;
  if (Contains(tag, "-w<6") && conditions.major_version >= 6) return false;
  if (!StartsWith(tag, "dep", false)) return false;
  return Contains(tag, ("-" + conditions.install_type).c_str());
}

bool IsSafeDestination(const std::string& destination) { return SafeDestination(destination); }
bool IsSafeDestination(const std::wstring& destination) { return SafeDestination(destination); }

bool MayNameWorkspaceFile(const std::wstring& destination, const std::wstring& name) {
  size_t end = destination.size();
  while (end > 0 && (destination[end - 1] == L'.' || destination[end - 1] == L' ')) --end;
  if (end != name.size()) return false;
  for (size_t i = 0; i < end; ++i) {
    const wchar_t c = destination[i];
    if (c < 0x80 && FoldAscii(c, true) != FoldAscii(name[i], true)) return false;
  }
  return true;
}

ScriptLine ClassifyScriptLine(const std::string& line, const ScriptConditions& conditions) {
  ScriptLine result;
  if (line.empty() || StartsWith(line, "#", false)) return result;
  const std::vector<std::string> fields = SplitString(line, ',');
  if (!TagSelects(fields[0], conditions)) {
    result.kind = ScriptLineKind::kNotSelected;
    return result;
  }
  if (fields.size() < 3) {
    result.kind = ScriptLineKind::kTooFewFields;
    return result;
  }
  result.record = fields[1];
  result.destination = fields[2];
  result.kind = IsSafeDestination(fields[2]) ? ScriptLineKind::kSelected
                                             : ScriptLineKind::kUnsafeDestination;
  return result;
}

int32_t ScriptLineProgress(uint32_t index, uint32_t count) {
  return count == 0 ? 85 : static_cast<int32_t>(85 + 15ull * index / count);
}
