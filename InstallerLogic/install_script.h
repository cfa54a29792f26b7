// The install script: the inner bundle's "install_script" record, one line per
// product file ("tag,record,destination"). Pure text rules, shared by the stub
// and the packer so that both select and refuse exactly the same lines.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What the tags of a line are tested against.
struct ScriptConditions {
  bool windows64 = false;       // "-x64" lines are taken, "-x86" lines skipped
  uint32_t major_version = 0;   // "-w6+" needs 6 or more, "-w<6" below 6
  std::string install_type;     // "-" + this must appear in the tag
};

enum class ScriptLineKind {
  kIgnored,            // empty or a comment: not even traced
  kNotSelected,        // the tag does not select it on this system
  kTooFewFields,       // selected, but without record name or destination
  kUnsafeDestination,  // selected, but its destination would leave the workspace
  kSelected,
};

struct ScriptLine {
  ScriptLineKind kind = ScriptLineKind::kIgnored;
  std::string record;       // field 2, as written
  std::string destination;  // field 3, relative to the workspace
};

// n separators give n + 1 pieces; empty pieces stay.
std::vector<std::string> SplitString(const std::string& text, char separator);
// ignoreCase folds only "A"-"Z".
bool StartsWith(const std::string& text, const std::string& prefix, bool ignoreCase);

// The run type as the stub compares it: trailing bytes whose signed value is
// 0x20 or less removed (so bytes 0x80-0xFF at the end go as well).
std::string TrimRunType(std::string type);

// Removes bytes 0x00-0x20 at both ends; bytes of UTF-8 sequences stay.
std::string TrimScriptLine(const std::string& line);

// True when the tag begins with "dep" and none of its conditions skips it.
bool TagSelects(const std::string& tag, const ScriptConditions& conditions);

// A destination is safe when it names a file strictly inside the workspace:
// not empty, no colon (drive or stream), no leading separator, and no
// component that is empty, ".", ".." or only dots and blanks (which the
// platform folds into those). Both "\" and "/" count as separators. The wide
// form checks the path as it will be opened, after UTF-8 conversion.
bool IsSafeDestination(const std::string& destination);
bool IsSafeDestination(const std::wstring& destination);

// True when a safe destination may open the workspace's own file `name`
// (ASCII, no separators): one component equal to it but for case, trailing
// dots and blanks (which the platform drops), or characters beyond ASCII
// (which the platform's case folding may turn into ASCII letters).
bool MayNameWorkspaceFile(const std::wstring& destination, const std::wstring& name);

// Classifies one trimmed line for the given system.
ScriptLine ClassifyScriptLine(const std::string& line, const ScriptConditions& conditions);

// The progress value reported before line `index` of `count`: 85 + 15 * i / n.
int32_t ScriptLineProgress(uint32_t index, uint32_t count);
