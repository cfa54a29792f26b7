// qxpack: the release engineer's tool for keys, inner bundles, attachment
// chains, signatures and finished installers.
//
// Exit status: 0 success, 1 a failed check or operation, 2 a usage error
// (unknown command or option, missing argument). Help and --version exit 0.
#include <cstdio>
#include <cstring>
#include <string>

#include <unistd.h>

#include "tools/qxpack/commands.h"
#include "tools/qxpack/version.h"

int Fail(const std::string& message) {
  std::fprintf(stderr, "qxpack: %s\n", message.c_str());
  return 1;
}

namespace {

struct Command {
  const char* name;
  int (*run)(const Args&);
  const char* usage;
  const char* help;  // what it does, after the usage line of `help COMMAND`
};

const Command kCommands[] = {
    {"build", CmdBuild,
     "build PRODUCT.json [-o OUT.exe] [--stub STUB.exe] [--setup SETUP.exe] [--type TEXT]\n"
     "             [--keys DIR] [--authenticode-cert CERT --authenticode-key KEY |\n"
     "             --authenticode-pkcs12 P12] [--authenticode-password TEXT]",
     "From a product description to a finished, signed installer. Writes the key\n"
     "set's public keys and descrambler table into the stub's key block, so any\n"
     "stub built from this source serves any key set. The stub defaults to the\n"
     "one installed with qxpack (../share/qxpack/Stub.exe). Options override the\n"
     "description; everything is checked before anything is written."},
    {"verify", CmdVerify, "verify INSTALLER [--keys DIR] [--goal GOAL]",
     "Runs every check of the stub offline, one line per step, with the keys the\n"
     "installer's own stub trusts (their SHA-256 fingerprints are printed).\n"
     "--keys DIR: the stub must trust that key set; a mismatch fails, naming the key.\n"
     "Exit 0 when a real run would start the setup program, else 1."},
    {"unpack", CmdUnpack,
     "unpack INSTALLER DIR [--x64|--x86] [--windows-major N] [--keys DIR] [--goal GOAL]",
     "Writes into DIR (new or empty) what the stub would put into its workspace\n"
     "on that system (default 64-bit Windows 10), after the checks of verify."},
    {"inspect", CmdInspect, "inspect FILE [--keys DIR]",
     "PE facts, attachment chains and the signature verdict, checked with the\n"
     "keys of the file's key block (or of DIR for a file without one, such as a\n"
     "setup program). Exit 1 when the signature is invalid or not checked."},
    {"keygen", CmdKeygen, "keygen DIR [--pkcs11 URI]",
     "Makes a new key set in DIR: root key, executable signing key, bundle signing\n"
     "key with its certificate, descrambler table. With --pkcs11 the private keys\n"
     "are generated inside the token the URI names."},
    {"stub", CmdStub, "stub --stub STUB.exe --setup SETUP.exe --type TEXT --keys DIR -o OUT.exe",
     "Assembles and signs an installer from a stub and a signed setup program,\n"
     "writing the key set into the stub's key block."},
    {"sign", CmdSign, "sign FILE --keys DIR",
     "Appends a signature record over every byte of FILE (the setup program)."},
    {"attach", CmdAttach, "attach FILE TYPE DATAFILE",
     "Appends DATAFILE to FILE as an attachment of the four-character TYPE."},
    {"inner", CmdInner, "inner -o OUT --keys DIR --script SCRIPT [--chunk-size BYTES] NAME=FILE...",
     "Writes a signed inner bundle holding the install script and the records."},
    {"list", CmdList, "list BUNDLE [--goal GOAL]", "Lists the records of a validated inner bundle."},
    {"extract", CmdExtract, "extract BUNDLE NAME OUT", "Writes one record of a validated inner bundle."},
    {"cert", CmdCert,
     "cert --root ROOT.key.der|ROOT.key.uri --key PUB.der --goal GOAL --expires YYYY-MM-DD -o CERT",
     "Writes a key certificate for PUB.der, signed by the root key."},
};

const Command* Find(const std::string& name) {
  for (const Command& c : kCommands)
    if (name == c.name) return &c;
  return nullptr;
}

void PrintOverview(FILE* out) {
  std::fprintf(out, "usage: qxpack COMMAND ARGS...   (qxpack help COMMAND, qxpack --version)\n");
  for (const Command& c : kCommands) std::fprintf(out, "  qxpack %s\n", c.usage);
}

int Help(const std::string& name) {
  const Command* c = Find(name);
  if (!c) {
    std::fprintf(stderr, "qxpack: help: unknown command \"%s\"\n", name.c_str());
    PrintOverview(stderr);
    return 2;
  }
  std::printf("usage: qxpack %s\n\n%s\n", c->usage, c->help);
  return 0;
}

}  // namespace

std::string UnknownArgument(const std::string& arg) {
  return (!arg.empty() && arg[0] == '-' ? "unknown option " : "unexpected argument ") + arg;
}

int UsageError(const std::string& command, const std::string& message) {
  const Command* c = Find(command);
  std::fprintf(stderr, "qxpack %s: %s\nusage: qxpack %s\n", command.c_str(), message.c_str(),
               c ? c->usage : command.c_str());
  return 2;
}

int BadArgument(const std::string& command, const std::string& arg) {
  return UsageError(command, UnknownArgument(arg));
}

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintOverview(stderr);
    return 2;
  }
  const std::string first = argv[1];
  if (first == "--version") {
    std::printf("qxpack %s\n", kQxpackVersion);
    return 0;
  }
  if (first == "--help" || first == "-h" || (first == "help" && argc == 2)) {
    PrintOverview(stdout);
    return 0;
  }
  if (first == "help") {
    if (argc > 3) return UsageError("help", UnknownArgument(argv[3]));
    return Help(argv[2]);
  }
  const Command* c = Find(first);
  if (!c) {
    std::fprintf(stderr, "qxpack: %s \"%s\"\n",
                 first[0] == '-' ? "unknown option" : "unknown command", first.c_str());
    PrintOverview(stderr);
    return 2;
  }
  Args args(argv + 2, argv + argc);
  for (const std::string& a : args)
    if (a == "--help" || a == "-h") return Help(c->name);
  // A listing of a long chain or a reader's reports can run to millions of
  // lines: into a pipe or a file they go out in 64 KiB writes rather than a
  // page at a time. A terminal keeps its line buffering.
  if (isatty(STDOUT_FILENO) != 1) std::setvbuf(stdout, nullptr, _IOFBF, 64 * 1024);
  try {
    return c->run(args);
  } catch (const std::exception& e) {
    return Fail(std::string(c->name) + ": " + e.what());
  }
}
