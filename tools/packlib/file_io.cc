#include "tools/packlib/file_io.h"

#include "util/platform.h"

bool ReadFileBytes(const std::wstring& path, std::vector<uint8_t>* out) {
  File f;
  if (!f.Open(path, FileAccess::kRead)) return false;
  const int64_t size = f.Size();
  if (size < 0) return false;
  out->resize(static_cast<size_t>(size));
  return size == 0 || f.Read(out->data(), out->size()) == out->size();
}

bool WriteFileBytes(const std::wstring& path, const std::vector<uint8_t>& data) {
  File f;
  if (!f.Open(path, FileAccess::kCreate)) return false;
  if (!data.empty() && !f.Write(data.data(), data.size())) {
    f.Close();
    RemoveFile(path);
    return false;
  }
  return true;
}
