// qxpack: the release engineer's tool for keys, inner bundles, attachment
// chains, signatures and finished installers.
#include <cstdio>
#include <cstring>
#include <string>

#include <unistd.h>

#include "tools/qxpack/commands.h"

int Fail(const std::string& message) {
  std::fprintf(stderr, "qxpack: %s\n", message.c_str());
  return 1;
}

namespace {

struct Command {
  const char* name;
  int (*run)(const Args&);
  const char* usage;
};

const Command kCommands[] = {
    {"keygen", CmdKeygen, "keygen DIR [--pkcs11 URI]"},
    {"attach", CmdAttach, "attach FILE TYPE DATAFILE"},
    {"sign", CmdSign, "sign FILE --keys DIR"},
    {"stub", CmdStub, "stub --stub STUB.exe --setup SETUP.exe --type TEXT --keys DIR -o OUT.exe"},
    {"inspect", CmdInspect, "inspect FILE"},
    {"cert", CmdCert, "cert --root ROOT.key.der|ROOT.key.uri --key PUB.der --goal GOAL --expires YYYY-MM-DD -o CERT"},
    {"inner", CmdInner, "inner -o OUT --keys DIR --script SCRIPT [--chunk-size BYTES] NAME=FILE..."},
    {"list", CmdList, "list BUNDLE [--goal GOAL]"},
    {"extract", CmdExtract, "extract BUNDLE NAME OUT"},
    {"build", CmdBuild,
     "build PRODUCT.json [-o OUT.exe] [--stub STUB.exe] [--setup SETUP.exe] [--type TEXT]\n"
     "        [--keys DIR]"
     "        [--authenticode-cert CERT --authenticode-key KEY | --authenticode-pkcs12 P12]\n"
     "        [--authenticode-password TEXT]"},
    {"verify", CmdVerify, "verify INSTALLER [--goal GOAL]"},
    {"unpack", CmdUnpack, "unpack INSTALLER DIR [--x64|--x86] [--windows-major N] [--goal GOAL]"},
};

int Usage() {
  std::fprintf(stderr, "usage: qxpack COMMAND ARGS...\n");
  for (const Command& c : kCommands) std::fprintf(stderr, "  qxpack %s\n", c.usage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  // A listing of a long chain or a reader's reports can run to millions of
  // lines: into a pipe or a file they go out in 64 KiB writes rather than a
  // page at a time. A terminal keeps its line buffering.
  if (isatty(STDOUT_FILENO) != 1) std::setvbuf(stdout, nullptr, _IOFBF, 64 * 1024);
  for (const Command& c : kCommands) {
    if (std::strcmp(argv[1], c.name) == 0) {
      Args args(argv + 2, argv + argc);
      try {
        return c.run(args);
      } catch (const std::exception& e) {
        return Fail(std::string(c.name) + ": " + e.what());
      }
    }
  }
  return Usage();
}
