#include "util/held_folders.h"

#include <fcntl.h>
#include <unistd.h>

#include <vector>

#include "util/text_conv.h"

// POSIX cannot refuse renames of an open folder; host builds only check that
// no folder on the way is a symbolic link.

void HeldFolders::Release() {
  for (intptr_t fd : handles_) ::close(static_cast<int>(fd));
  handles_.clear();
  path_.clear();
}

bool HeldFolders::Hold(const std::wstring& folder) {
  Release();
  std::string full = WideToMultiByte(folder);
  if (full.empty()) return false;
  if (full[0] != '/') {
    std::vector<char> cwd(4096);
    if (!getcwd(cwd.data(), cwd.size())) return false;
    full = std::string(cwd.data()) + "/" + full;
  }
  if (full.back() != '/') full += '/';
  for (size_t end = full.find('/', 1); end != std::string::npos; end = full.find('/', end + 1)) {
    if (end > 0 && full[end - 1] == '/') continue;  // "//"
    const int fd = ::open(full.substr(0, end).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
      Release();
      return false;
    }
    handles_.push_back(fd);
  }
  path_ = MultiByteToWide(full, false);
  return true;
}
