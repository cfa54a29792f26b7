#include "InstallerLogic/module_path.h"

#include <vector>

std::wstring ReadModulePath(const ModuleNameReader& read, uint32_t capacity) {
  if (capacity == 0) return std::wstring();
  for (;;) {
    std::vector<wchar_t> buffer(capacity);
    const uint32_t length = read(buffer.data(), capacity);
    if (length < capacity) return std::wstring(buffer.data(), length);
    if (capacity >= kLongestModulePath) return std::wstring();
    capacity = capacity > kLongestModulePath / 2 ? kLongestModulePath : capacity * 2;
  }
}
