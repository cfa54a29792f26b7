// qxpack list: opens an inner bundle as the stub does and lists its records.
#include <cstdio>
#include <string>

#include "bundle/bundle_file.h"
#include "InstallerLogic/script_reader.h"
#include "tools/qxpack/commands.h"
#include "tools/qxpack/trace_capture.h"
#include "util/text_conv.h"

bool OpenValidated(BundleFile* bundle, const std::string& path, const std::string& goal,
                   std::string* reason) {
  TraceCapture trace;
  const bool ok = OpenInnerBundle(bundle, MultiByteToWide(path), goal);
  *reason = trace.text();
  return ok;
}

int CmdList(const Args& args) {
  std::string path, goal = "IBND";
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--goal" && i + 1 < args.size()) {
      goal = args[++i];
    } else if (path.empty() && args[i][0] != '-') {
      path = args[i];
    } else if (args[i] == "--goal") {
      return UsageError("list", "--goal needs a value");
    } else {
      return BadArgument("list", args[i]);
    }
  }
  if (path.empty()) return UsageError("list", "needs a bundle");
  BundleFile bundle;
  std::string reason;
  if (!OpenValidated(&bundle, path, goal, &reason)) return Fail("list: " + path + ": " + reason);
  std::printf("%-32s %14s %8s\n", "name", "plain size", "chunks");
  for (const RecordIndexEntry& r : bundle.records())
    std::printf("%-32s %14llu %8zu\n", r.name.c_str(), static_cast<unsigned long long>(r.plain_size),
                r.chunks.size());
  return 0;
}
