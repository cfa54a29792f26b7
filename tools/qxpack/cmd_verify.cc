// qxpack verify INSTALLER [--goal G]: would this installer start its setup
// program on a user's machine? Every check of the stub, offline.
#include <cstdio>
#include <filesystem>

#include "tools/qxpack/commands.h"
#include "tools/qxpack/installer_check.h"
#include "tools/qxpack/scratch_dir.h"

int CmdVerify(const Args& args) {
  InstallerCheckPlan plan;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--goal" && i + 1 < args.size()) {
      plan.goal = args[++i];
    } else if (args[i] == "--keys" && i + 1 < args.size()) {
      plan.pinned_keys = args[++i];
    } else if (plan.installer.empty() && args[i][0] != '-') {
      plan.installer = args[i];
    } else if (args[i] == "--goal" || args[i] == "--keys") {
      return UsageError("verify", args[i] + " needs a value");
    } else {
      return BadArgument("verify", args[i]);
    }
  }
  if (plan.installer.empty()) return UsageError("verify", "needs INSTALLER");
  if (!std::filesystem::is_regular_file(plan.installer))
    return Fail("verify: no such file: " + plan.installer);
  ScratchDir workspace;
  if (!workspace.ok()) return Fail("verify: cannot create a temporary workspace");
  plan.workspace = workspace.path();
  plan.systems.assign(std::begin(kSystemCases), std::end(kSystemCases));
  const std::string failed = CheckInstaller(plan);
  if (!failed.empty()) {
    std::printf("verdict: the setup program would NOT start; first failing step: %s\n",
                failed.c_str());
    return 1;
  }
  std::printf("verdict: a real run would start the setup program\n");
  return 0;
}
