// qxpack keygen DIR [--pkcs11 URI]: a new key set (see tools/packlib/key_set.h),
// with the private keys in files or generated inside a PKCS #11 token.
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "tools/packlib/key_set.h"
#include "tools/qxpack/commands.h"
#include "util/text_conv.h"

int CmdKeygen(const Args& args) {
  const bool token = args.size() == 3 && args[1] == "--pkcs11";
  if (args.size() != 1 && !token) {
    for (size_t i = 1; i < args.size(); ++i)
      if (args[i] != "--pkcs11") return BadArgument("keygen", args[i]);
    return UsageError("keygen", "needs DIR, and a URI after --pkcs11");
  }
  if (args[0][0] == '-') return BadArgument("keygen", args[0]);
  std::error_code ec;
  std::filesystem::create_directories(args[0], ec);
  if (ec) return Fail("cannot create " + args[0] + ": " + ec.message());
  std::string error;
  const std::wstring dir = MultiByteToWide(args[0]);
  if (!(token ? GenerateKeySetInToken(dir, args[2], &error) : GenerateKeySet(dir, &error)))
    return Fail("keygen " + args[0] + ": " + error);
  std::printf("key set written to %s%s\n", args[0].c_str(),
              token ? " (private keys in the token, named by the .key.uri files)" : "");
  return 0;
}
