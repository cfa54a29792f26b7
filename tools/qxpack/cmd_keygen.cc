// qxpack keygen DIR: a new key set (see tools/packlib/key_set.h).
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "tools/packlib/key_set.h"
#include "tools/qxpack/commands.h"
#include "util/text_conv.h"

int CmdKeygen(const Args& args) {
  if (args.size() != 1) return Fail("usage: qxpack keygen DIR");
  std::error_code ec;
  std::filesystem::create_directories(args[0], ec);
  if (ec) return Fail("cannot create " + args[0] + ": " + ec.message());
  std::string error;
  if (!GenerateKeySet(MultiByteToWide(args[0]), &error)) {
    return Fail("keygen " + args[0] + ": " + error);
  }
  std::printf("key set written to %s\n", args[0].c_str());
  return 0;
}
