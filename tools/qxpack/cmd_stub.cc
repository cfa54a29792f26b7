// qxpack stub --stub STUB.exe --setup SETUP.exe --type TEXT --keys DIR -o OUT.exe:
// the finished installer (see WriteSignedInstaller).
#include <cstdio>
#include <memory>
#include <map>

#include "integrity/file_signature.h"
#include "tools/packlib/exe_signer.h"
#include "tools/packlib/file_io.h"
#include "tools/packlib/key_set.h"
#include "tools/qxpack/commands.h"
#include "util/text_conv.h"

namespace {

const char kUsage[] =
    "usage: qxpack stub --stub STUB.exe --setup SETUP.exe --type TEXT --keys DIR -o OUT.exe";

}  // namespace

int CmdStub(const Args& args) {
  std::map<std::string, std::string> options;
  for (size_t i = 0; i < args.size(); i += 2) {
    const std::string& name = args[i];
    if (i + 1 >= args.size() ||
        (name != "--stub" && name != "--setup" && name != "--type" && name != "--keys" &&
         name != "-o") ||
        options.count(name)) {
      return Fail(kUsage);
    }
    options[name] = args[i + 1];
  }
  if (options.size() != 5) return Fail(kUsage);
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
  const std::wstring out = MultiByteToWide(options["-o"]);
  if (!WriteSignedInstaller(stub, setup, options["--type"], *key, out, &error)) {
    return Fail(options["-o"] + ": " + error);
  }
  std::printf("%s: installer written\n", options["-o"].c_str());
  if (!VerifyFileSignatureAttempt(out, true)) {
    std::printf("note: it does not verify with this build's built-in executable signing key "
                "(signed with another key set?)\n");
  }
  return 0;
}
