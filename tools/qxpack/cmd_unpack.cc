// qxpack unpack INSTALLER DIR [--x64|--x86] [--windows-major N]: writes what
// the stub would put into its workspace on that system, after the same
// checks. The support engineer's answer to "what did this installer install?".
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "tools/qxpack/commands.h"
#include "tools/qxpack/installer_check.h"

namespace fs = std::filesystem;

int CmdUnpack(const Args& args) {
  InstallerCheckPlan plan;
  bool windows64 = true;
  unsigned long major = 10;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--x64" || a == "--x86") {
      windows64 = a == "--x64";
    } else if (a == "--windows-major" && i + 1 < args.size()) {
      char* end = nullptr;
      const std::string& v = args[++i];
      major = std::strtoul(v.c_str(), &end, 10);
      if (v.empty() || *end || major > 100) return UsageError("unpack", "not a Windows major version: " + v);
    } else if (a == "--goal" && i + 1 < args.size()) {
      plan.goal = args[++i];
    } else if (a == "--keys" && i + 1 < args.size()) {
      plan.pinned_keys = args[++i];
    } else if (a[0] != '-' && plan.installer.empty()) {
      plan.installer = a;
    } else if (a[0] != '-' && plan.workspace.empty()) {
      plan.workspace = a;
    } else if (a == "--goal" || a == "--keys" || a == "--windows-major") {
      return UsageError("unpack", a + " needs a value");
    } else {
      return BadArgument("unpack", a);
    }
  }
  if (plan.workspace.empty())
    return UsageError("unpack", "needs INSTALLER and DIR");
  if (!fs::is_regular_file(plan.installer)) return Fail("unpack: no such file: " + plan.installer);
  std::error_code ec;
  if (fs::exists(plan.workspace, ec) && !fs::is_empty(plan.workspace, ec))
    return Fail("unpack: " + plan.workspace + " exists and is not empty");
  const bool created = fs::create_directories(plan.workspace, ec);
  if (ec) return Fail("unpack: cannot create " + plan.workspace + ": " + ec.message());

  const std::string label = std::string(windows64 ? "64" : "32") + "-bit Windows, version " +
                            std::to_string(major);
  plan.systems.push_back({windows64, static_cast<uint32_t>(major), label.c_str()});
  plan.write_files = true;
  const std::string failed = CheckInstaller(plan);
  if (!failed.empty()) {
    // Nothing half-written stays behind.
    if (created) {
      fs::remove_all(plan.workspace, ec);
    } else {
      for (const auto& entry : fs::directory_iterator(plan.workspace, ec)) fs::remove_all(entry, ec);
    }
    return Fail("unpack: the stub would stop at step \"" + failed + "\"; nothing written");
  }
  std::printf("unpacked into %s\n", plan.workspace.c_str());
  return 0;
}
