// qxpack inner: writes a signed inner bundle from an install script and files.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/packlib/inner_bundle_files.h"
#include "tools/packlib/inner_bundle_writer.h"
#include "tools/qxpack/commands.h"
#include "util/platform.h"
#include "util/text_conv.h"

int CmdInner(const Args& args) {
  std::string out_path, keys_dir, script;
  uint64_t chunk_size = InnerBundleWriter::kDefaultChunkSize;
  std::vector<RecordSource> inputs;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool has_value = i + 1 < args.size();
    if ((a == "-o" || a == "--keys" || a == "--script" || a == "--chunk-size") && !has_value)
      return UsageError("inner", a + " needs a value");
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
      if (v.empty() || *end || chunk_size == 0 || chunk_size > kMaxInnerChunkSize)
        return Fail("inner: chunk size must be 1 to " + std::to_string(kMaxInnerChunkSize) + ": " +
                    v);
    } else {
      const size_t eq = a.find('=');
      if (eq == std::string::npos || a[0] == '-') return BadArgument("inner", a);
      inputs.push_back(RecordSource::FromFile(a.substr(0, eq), MultiByteToWide(a.substr(eq + 1))));
    }
  }
  if (out_path.empty() || keys_dir.empty() || script.empty())
    return UsageError("inner", "needs -o, --keys and --script");
  inputs.insert(inputs.begin(), RecordSource::FromFile("install_script", MultiByteToWide(script)));

  std::string error;
  if (!WriteInnerBundleFile(MultiByteToWide(out_path), MultiByteToWide(keys_dir), inputs,
                            static_cast<uint32_t>(chunk_size), nullptr, &error))
    return Fail("inner: " + error);
  File written;
  written.Open(MultiByteToWide(out_path), FileAccess::kRead);
  std::printf("%s: %zu records, %lld bytes\n", out_path.c_str(), inputs.size(),
              static_cast<long long>(written.Size()));
  return 0;
}
