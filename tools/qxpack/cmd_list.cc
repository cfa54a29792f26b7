// qxpack list: opens an inner bundle as the stub does and lists its records.
#include <cstdio>
#include <string>

#include "bundle/bundle_file.h"
#include "diagnostics/trace.h"
#include "tools/qxpack/commands.h"
#include "util/text_conv.h"

namespace {
void CollectTrace(const std::string& line, void* context) {
  // Drop the "[T xxxxxxxx] " thread prefix; keep the message.
  std::string message = line.size() > 13 && line[0] == '[' ? line.substr(13) : line;
  while (!message.empty() && message.back() == '\n') message.pop_back();
  if (message.empty()) return;
  std::string* all = static_cast<std::string*>(context);
  if (!all->empty()) *all += "; ";
  *all += message;
}
}  // namespace

bool OpenValidated(BundleFile* bundle, const std::string& path, const std::string& goal,
                   std::string* reason) {
  bundle->SetExpectedGoal(goal);
  bundle->SetMaxChunkSize(0x1900000);
  std::string trace;
  SetTraceSink(&CollectTrace, &trace);
  const bool ok = bundle->Open(MultiByteToWide(path), false);
  SetTraceSink(nullptr, nullptr);
  *reason = trace;
  return ok;
}

int CmdList(const Args& args) {
  std::string path, goal = "IBND";
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--goal" && i + 1 < args.size()) {
      goal = args[++i];
    } else if (path.empty() && args[i][0] != '-') {
      path = args[i];
    } else {
      return Fail("list: unexpected argument " + args[i]);
    }
  }
  if (path.empty()) return Fail("list: needs a bundle");
  BundleFile bundle;
  std::string reason;
  if (!OpenValidated(&bundle, path, goal, &reason)) return Fail("list: " + path + ": " + reason);
  std::printf("%-32s %14s %8s\n", "name", "plain size", "chunks");
  for (const RecordIndexEntry& r : bundle.records())
    std::printf("%-32s %14llu %8zu\n", r.name.c_str(), static_cast<unsigned long long>(r.plain_size),
                r.chunks.size());
  return 0;
}
