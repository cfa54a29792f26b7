#include "diagnostics/log_config.h"

#include <algorithm>

#include "diagnostics/json/json_value.h"
#include "util/text_conv.h"

namespace {

int32_t Clamp32(int64_t value, int64_t low, int64_t high) {
  return static_cast<int32_t>(std::clamp(value, low, high));
}

// A present key that is not an array leaves the list empty; a non-string
// element becomes an empty pattern.
std::vector<std::wstring> Patterns(const JsonValue::ObjectMap& config, const char* key) {
  std::vector<std::wstring> patterns;
  auto it = config.find(key);
  if (it == config.end()) return patterns;
  for (const JsonValue& element : it->second.AsArray())
    patterns.push_back(MultiByteToWide(element.AsString()));
  return patterns;
}

}  // namespace

uint32_t MaxFileSizeFromMb(int64_t megabytes) {
  if (megabytes > kMaxFileSizeMb) return UINT32_MAX;
  // A negative size limit means the smallest one.
  if (megabytes < 0) return 0;
  return static_cast<uint32_t>(megabytes) * 1048576u;
}

void ApplyLogConfig(const std::wstring& text, LogSettings* settings) {
  std::string narrow(text.size(), '\0');
  std::transform(text.begin(), text.end(), narrow.begin(),
                 [](wchar_t unit) { return static_cast<char>(unit & 0xFF); });
  JsonValue root;
  root.Parse(narrow);
  const JsonValue::ObjectMap& config = root.AsObject();

  auto integer = [&config](const char* key, int64_t* value) {
    auto it = config.find(key);
    if (it == config.end()) return false;
    *value = it->second.AsInteger();
    return true;
  };
  int64_t value = 0;
  settings->enabled = integer("enable", &value) && value != 0;
  settings->include = Patterns(config, "include");
  settings->exclude = Patterns(config, "exclude");
  if (integer("maxFileSizeMb", &value)) settings->maxFileSize = MaxFileSizeFromMb(value);
  if (integer("maxBackupsCount", &value))
    settings->maxBackups = Clamp32(value, 0, kMaxBackups);
  auto path = config.find("filePath");
  if (path != config.end()) settings->filePath = MultiByteToWide(path->second.AsString());
  if (integer("maxRunTime", &value)) settings->maxRunTimeMinutes = Clamp32(value, INT32_MIN, INT32_MAX);
}

bool LogLineAccepted(const std::wstring& line, const std::vector<std::wstring>& include,
                     const std::vector<std::wstring>& exclude) {
  auto found = [&line](const std::wstring& pattern) { return line.find(pattern) != std::wstring::npos; };
  if (std::any_of(exclude.begin(), exclude.end(), found)) return false;
  return include.empty() || std::any_of(include.begin(), include.end(), found);
}

bool RunTimeExpired(uint64_t start, uint64_t now, int32_t maxMinutes) {
  if (maxMinutes == 0) return false;
  const int64_t minutes = static_cast<int64_t>(now - start) / 600000000;
  return minutes >= maxMinutes;
}
