// qxpack stub --stub STUB.exe --setup SETUP.exe --type TEXT --keys DIR -o OUT.exe:
// the finished installer (see WriteSignedInstaller).
#include <cstdio>
#include <filesystem>
#include <memory>
#include <map>

#include "integrity/builtin_keys.h"
#include "integrity/file_signature.h"
#include "tools/packlib/exe_signer.h"
#include "tools/packlib/file_io.h"
#include "tools/packlib/key_set.h"
#include "tools/qxpack/commands.h"
#include "tools/qxpack/stub_keys.h"
#include "util/text_conv.h"

int CmdStub(const Args& args) {
  std::map<std::string, std::string> options;
  for (size_t i = 0; i < args.size(); i += 2) {
    const std::string& name = args[i];
    if (name != "--stub" && name != "--setup" && name != "--type" && name != "--keys" && name != "-o")
      return BadArgument("stub", name);
    if (i + 1 >= args.size()) return UsageError("stub", name + " needs a value");
    if (options.count(name)) return UsageError("stub", name + " given twice");
    options[name] = args[i + 1];
  }
  if (options.size() != 5) return UsageError("stub", "needs --stub, --setup, --type, --keys and -o");
  if (options["--type"].empty()) return Fail("the run-mode text must not be empty");

  std::string error;
  std::unique_ptr<PrivateKeySigner> key;
  if (!OpenKeySetSigner(MultiByteToWide(options["--keys"]), KeyRole::kExeSigning, &key, &error))
    return Fail(error);
  std::vector<uint8_t> stub, setup;
  if (!ReadFileBytes(MultiByteToWide(options["--stub"]), &stub)) {
    return Fail("cannot read " + options["--stub"]);
  }
  if (!ReadFileBytes(MultiByteToWide(options["--setup"]), &setup)) {
    return Fail("cannot read " + options["--setup"]);
  }
  PublicKeyHalves halves;
  std::vector<uint8_t> block;
  if (!LoadPublicKeyHalves(MultiByteToWide(options["--keys"]), &halves, &error)) return Fail(error);
  if (!MakeKeyBlock(halves, &block, &error))
    return Fail("the key set " + options["--keys"] + " " + error);
  if (!WriteKeyBlock(&stub, block, &error)) return Fail(options["--stub"] + ": " + error);
  UseKeyBlock(block.data(), block.size());
  const std::wstring out = MultiByteToWide(options["-o"]);
  if (!WriteSignedInstaller(stub, setup, options["--type"], *key, out, &error)) {
    return Fail(options["-o"] + ": " + error);
  }
  std::printf("%s: installer written\n", options["-o"].c_str());
  if (!VerifyFileSignatureAttempt(out, true)) {
    std::error_code ec;
    std::filesystem::remove(options["-o"], ec);
    return Fail(options["-o"] + ": the written installer does not verify with its own key block");
  }
  return 0;
}
