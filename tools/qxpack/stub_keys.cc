#include "tools/qxpack/stub_keys.h"

#include <algorithm>

#include "integrity/builtin_keys.h"
#include "tools/packlib/file_io.h"
#include "tools/packlib/key_set.h"
#include "util/text_conv.h"

namespace {

bool Contains(const uint8_t* data, size_t size, const std::vector<uint8_t>& needle) {
  return !needle.empty() && std::search(data, data + size, needle.begin(), needle.end()) != data + size;
}

}  // namespace

bool LoadPublicKeyHalves(const std::wstring& dir, PublicKeyHalves* halves, std::string* error) {
  const struct {
    const wchar_t* file;
    std::vector<uint8_t>* out;
  } parts[] = {{kRootPublicKeyFile, &halves->root},
               {kExeSigningPublicKeyFile, &halves->exe_signing},
               {kBundleKeyTableFile, &halves->table}};
  for (const auto& part : parts) {
    const std::wstring path = KeySetFile(dir, part.file);
    if (!ReadFileBytes(path, part.out) || part.out->empty()) {
      *error = "cannot read " + WideToMultiByte(path, false);
      return false;
    }
  }
  return true;
}

PublicKeyHalves BuiltinPublicKeyHalves() {
  PublicKeyHalves h;
  h.root.assign(kRootPublicKeyDer, kRootPublicKeyDer + kRootPublicKeyDerSize);
  h.exe_signing.assign(kExeSigningPublicKeyDer, kExeSigningPublicKeyDer + kExeSigningPublicKeyDerSize);
  h.table.assign(kBundleKeyTable, kBundleKeyTable + kBundleKeyTableSize);
  return h;
}

std::vector<std::string> HalvesMissingFrom(const uint8_t* data, size_t size,
                                           const PublicKeyHalves& halves) {
  std::vector<std::string> missing;
  if (!Contains(data, size, halves.root)) missing.push_back("root key");
  if (!Contains(data, size, halves.exe_signing)) missing.push_back("executable signing key");
  if (!Contains(data, size, halves.table)) missing.push_back("descrambler table");
  return missing;
}

std::string JoinNames(const std::vector<std::string>& names) {
  std::string out;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += i + 1 == names.size() ? " and " : ", ";
    out += names[i];
  }
  return out;
}
