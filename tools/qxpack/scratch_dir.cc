#include "tools/qxpack/scratch_dir.h"

#include <stdlib.h>

#include <filesystem>
#include <vector>

ScratchDir::ScratchDir() {
  std::error_code ec;
  std::string pattern = (std::filesystem::temp_directory_path(ec) / "qxpack-XXXXXX").string();
  if (ec) return;
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data())) path_ = buffer.data();
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}
