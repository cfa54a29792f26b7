// qxpack inner: writes a signed inner bundle from an install script and files.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "tools/packlib/crypto_keys.h"
#include "tools/packlib/file_io.h"
#include "tools/packlib/inner_bundle_writer.h"
#include "tools/packlib/key_set.h"
#include "tools/qxpack/commands.h"
#include "util/platform.h"
#include "util/text_conv.h"

namespace {
// The stub refuses chunks above this plain size and bundles above 256 records.
constexpr uint64_t kMaxChunkSize = 0x1900000;
constexpr size_t kMaxRecords = 256;

struct Input {
  std::string name;
  std::string path;
};

// Streams one file into the bundle, a chunk at a time.
bool WriteFileRecord(InnerBundleWriter* writer, const Input& input, uint32_t chunk_size,
                     std::string* error) {
  File file;
  if (!file.Open(MultiByteToWide(input.path), FileAccess::kRead)) {
    *error = "cannot open " + input.path;
    return false;
  }
  const int64_t size = file.Size();
  const uint64_t chunks = (static_cast<uint64_t>(size) + chunk_size - 1) / chunk_size;
  if (size < 0 || chunks > UINT32_MAX) {
    *error = "cannot size " + input.path;
    return false;
  }
  if (!writer->BeginRecord(input.name, static_cast<uint32_t>(chunks))) {
    *error = "cannot write record " + input.name;
    return false;
  }
  std::vector<uint8_t> buffer;
  for (uint64_t left = static_cast<uint64_t>(size); left > 0;) {
    buffer.resize(static_cast<size_t>(std::min<uint64_t>(left, chunk_size)));
    if (file.Read(buffer.data(), buffer.size()) != buffer.size()) {
      *error = "cannot read " + input.path;
      return false;
    }
    if (!writer->WriteChunk(buffer.data(), buffer.size())) {
      *error = "cannot write record " + input.name;
      return false;
    }
    left -= buffer.size();
  }
  return true;
}
}  // namespace

int CmdInner(const Args& args) {
  std::string out_path, keys_dir, script;
  uint64_t chunk_size = InnerBundleWriter::kDefaultChunkSize;
  std::vector<Input> inputs;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool has_value = i + 1 < args.size();
    if ((a == "-o" || a == "--keys" || a == "--script" || a == "--chunk-size") && !has_value)
      return Fail("inner: " + a + " needs a value");
    if (a == "-o") {
      out_path = args[++i];
    } else if (a == "--keys") {
      keys_dir = args[++i];
    } else if (a == "--script") {
      script = args[++i];
    } else if (a == "--chunk-size") {
      const std::string& v = args[++i];
      char* end = nullptr;
      chunk_size = std::strtoull(v.c_str(), &end, 10);
      if (v.empty() || *end || chunk_size == 0 || chunk_size > kMaxChunkSize)
        return Fail("inner: chunk size must be 1 to " + std::to_string(kMaxChunkSize) + ": " + v);
    } else {
      const size_t eq = a.find('=');
      if (eq == std::string::npos || a[0] == '-') return Fail("inner: unexpected argument " + a);
      inputs.push_back({a.substr(0, eq), a.substr(eq + 1)});
    }
  }
  if (out_path.empty() || keys_dir.empty() || script.empty())
    return Fail("inner: needs -o, --keys and --script");
  inputs.insert(inputs.begin(), Input{"install_script", script});
  if (inputs.size() > kMaxRecords)
    return Fail("inner: at most " + std::to_string(kMaxRecords) + " records");
  std::set<std::string> names;
  for (const Input& in : inputs) {
    if (in.name.empty() || in.name.size() > 255 || in.name.find('\0') != std::string::npos)
      return Fail("inner: record names are 1 to 255 bytes: " + in.name);
    if (!names.insert(in.name).second) return Fail("inner: record named twice: " + in.name);
  }

  const std::wstring dir = MultiByteToWide(keys_dir);
  std::vector<uint8_t> table, certificate;
  CryptoPP::RSA::PrivateKey signing_key;
  if (!ReadFileBytes(KeySetFile(dir, kBundleKeyTableFile), &table) || table.empty())
    return Fail("inner: cannot read the descrambler table in " + keys_dir);
  if (!LoadPrivateKey(KeySetFile(dir, kBundleSigningPrivateKeyFile), &signing_key))
    return Fail("inner: cannot load the bundle signing key in " + keys_dir);
  if (!ReadFileBytes(KeySetFile(dir, kBundleSigningCertFile), &certificate))
    return Fail("inner: cannot read the bundle signing certificate in " + keys_dir);

  const std::wstring out = MultiByteToWide(out_path);
  File file;
  if (!file.Open(out, FileAccess::kCreate)) return Fail("inner: cannot create " + out_path);
  InnerBundleWriter writer([&file](const uint8_t* p, size_t n) { return file.Write(p, n); },
                           table, signing_key);
  std::string error = "cannot write " + out_path;
  bool ok = writer.WriteHeader(static_cast<uint32_t>(inputs.size()));
  for (size_t i = 0; ok && i < inputs.size(); ++i)
    ok = WriteFileRecord(&writer, inputs[i], static_cast<uint32_t>(chunk_size), &error);
  ok = ok && writer.WriteEndMarker() && writer.WriteSignedTail(certificate);
  file.Close();
  if (!ok) {
    RemoveFile(out);
    return Fail("inner: " + error);
  }
  std::printf("%s: %zu records, %llu bytes\n", out_path.c_str(), inputs.size(),
              static_cast<unsigned long long>(writer.offset()));
  return 0;
}
