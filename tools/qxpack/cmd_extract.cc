// qxpack extract: validates an inner bundle and extracts one record.
#include <string>

#include "bundle/bundle_file.h"
#include "tools/qxpack/commands.h"
#include "util/text_conv.h"

int CmdExtract(const Args& args) {
  if (args.size() != 3) return UsageError("extract", "needs BUNDLE NAME OUT");
  BundleFile bundle;
  std::string reason;
  if (!OpenValidated(&bundle, args[0], "IBND", &reason))
    return Fail("extract: " + args[0] + ": " + reason);
  if (!bundle.ExtractRecord(MultiByteToWide(args[2]), args[1]))
    return Fail("extract: cannot extract record " + args[1] + " to " + args[2]);
  return 0;
}
