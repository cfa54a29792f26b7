// Install-script selection: the input is an "install_script" record, cut into
// lines as the stub reads them, trimmed and classified for several systems.
// A line that is selected must name a destination that stays inside the
// workspace, in the narrow form and in the wide form the stub opens.
#include <cstdint>
#include <string>
#include <vector>

#include "InstallerLogic/install_script.h"
#include "fuzz/fuzz_support.h"
#include "util/text_conv.h"

namespace {

// Walks the components as the file system resolves them; true when the path
// ends strictly inside the directory it is relative to. A component of only
// dots and blanks is taken at its worst: the platform may fold it into "..".
template <typename Char>
bool StaysInside(const std::basic_string<Char>& path) {
  if (path.empty() || path.find(Char(':')) != std::basic_string<Char>::npos) return false;
  int depth = 0;
  std::basic_string<Char> component;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != Char('\\') && path[i] != Char('/')) {
      component += path[i];
      continue;
    }
    if (i == 0) return false;  // rooted
    if (component.find_first_not_of(std::basic_string<Char>{Char('.'), Char(' ')}) ==
        std::basic_string<Char>::npos) {
      if (!component.empty() && --depth < 0) return false;
    } else {
      ++depth;
    }
    component.clear();
  }
  return depth > 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string record(reinterpret_cast<const char*>(data), size);
  // Lines as ReadLine returns them: "\r" dropped, at most 2047 characters.
  std::vector<std::string> lines(1);
  for (char c : record) {
    if (c == '\r') continue;
    lines.back() += c;
    if (c == '\n' || lines.back().size() == 2047) lines.emplace_back();
  }
  const ScriptConditions systems[] = {
      {false, 5, "gui"}, {true, 6, "gui"}, {true, 10, "silent"}, {false, 6, ""}};
  for (const std::string& raw : lines) {
    const std::string line = TrimScriptLine(raw);
    FUZZ_CHECK(line.size() <= raw.size());
    FUZZ_CHECK(TrimScriptLine(line) == line);
    for (const ScriptConditions& system : systems) {
      const ScriptLine result = ClassifyScriptLine(line, system);
      if (result.kind != ScriptLineKind::kSelected) continue;
      FUZZ_CHECK(TagSelects(SplitString(line, ',')[0], system));
      FUZZ_CHECK(StaysInside(result.destination));
      const std::wstring wide = MultiByteToWide(result.destination);
      FUZZ_CHECK(IsSafeDestination(wide) && StaysInside(wide));
    }
  }
  return 0;
}
