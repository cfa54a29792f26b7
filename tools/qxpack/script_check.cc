#include "tools/qxpack/script_check.h"

#include <set>

#include "util/text_conv.h"

const SystemCase kSystemCases[4] = {
    {false, 5, "32-bit Windows, version < 6"},
    {false, 6, "32-bit Windows, version >= 6"},
    {true, 5, "64-bit Windows, version < 6"},
    {true, 6, "64-bit Windows, version >= 6"},
};

namespace {

// Windows compares file names without case and with either separator.
std::string WorkspaceKey(const std::string& destination) {
  std::string key;
  for (char c : destination) {
    if (c == '/') c = '\\';
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    key += c;
  }
  return key;
}

}  // namespace

std::vector<std::string> ScriptLinesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::string piece;
  for (char c : text) {
    if (c == '\r') continue;
    piece += c;
    if (c == '\n' || piece.size() == kScriptLineCapacity - 1) {
      lines.push_back(TrimScriptLine(piece));
      piece.clear();
    }
  }
  if (!piece.empty()) lines.push_back(TrimScriptLine(piece));
  return lines;
}

Selection SelectFiles(const std::vector<std::string>& lines, const ScriptConditions& conditions,
                      const std::function<bool(const std::string&)>& record_exists) {
  static const std::set<std::string> kStubFiles = {"setup.exe", "ibnd"};
  Selection out;
  std::set<std::string> written;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string where = "line " + std::to_string(i + 1) + ": ";
    const ScriptLine line = ClassifyScriptLine(lines[i], conditions);
    switch (line.kind) {
      case ScriptLineKind::kIgnored:
      case ScriptLineKind::kNotSelected:
        continue;
      case ScriptLineKind::kTooFewFields:
        out.notes.push_back(where + "selected but has no record or destination; skipped");
        continue;
      case ScriptLineKind::kUnsafeDestination:
        out.problems.push_back(where + "destination \"" + line.destination +
                               "\" leaves the workspace");
        continue;
      case ScriptLineKind::kSelected:
        break;
    }
    const std::string key = WorkspaceKey(line.destination);
    const std::string quoted = "destination \"" + line.destination + "\"";
    if (!IsSafeDestination(MultiByteToWide(line.destination))) {
      out.problems.push_back(where + quoted + " leaves the workspace");
    } else if (!record_exists(line.record)) {
      out.problems.push_back(where + "record \"" + line.record + "\" does not exist");
    } else if (kStubFiles.count(key)) {
      out.problems.push_back(where + quoted + " would replace the stub's own " + key);
    } else {
      if (key == "qxav_404.dat") out.warnings.push_back(where + quoted + " replaces the A404 file");
      if (!written.insert(key).second)
        out.warnings.push_back(where + quoted + " is written by an earlier line too");
      out.files.push_back({i + 1, line.record, line.destination});
    }
  }
  return out;
}
