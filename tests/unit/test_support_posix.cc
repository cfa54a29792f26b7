#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "test_support_platform.h"
#include "util/text_conv.h"

const wchar_t kPathSep = L'/';

std::wstring MakeTempDirectory() {
  const char* base = std::getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/qxtest-XXXXXX";
  if (!mkdtemp(&templ[0])) std::abort();
  return MultiByteToWide(templ);
}

void RemoveTree(const std::wstring& path) {
  std::string cmd = "rm -rf '" + WideToMultiByte(path) + "'";
  if (std::system(cmd.c_str()) != 0) {
  }
}

bool MakeHardLink(const std::wstring& link, const std::wstring& target) {
  return ::link(WideToMultiByte(target).c_str(), WideToMultiByte(link).c_str()) == 0;
}

bool MakeSymbolicLink(const std::wstring& link, const std::wstring& target) {
  return ::symlink(WideToMultiByte(target).c_str(), WideToMultiByte(link).c_str()) == 0;
}

bool MakeDirectory(const std::wstring& path) { return ::mkdir(WideToMultiByte(path).c_str(), 0755) == 0; }
