#include "tools/qxpack/default_stub.h"

#include <filesystem>

namespace fs = std::filesystem;

std::string DefaultStubPath() {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const fs::path packaged = self.parent_path() / ".." / "share" / "qxpack" / "Stub.exe";
    if (fs::is_regular_file(packaged, ec)) return packaged.lexically_normal().string();
  }
  return QX_PRODUCT_STUB;
}
