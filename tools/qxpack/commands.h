// Sub-commands of qxpack. Each takes the arguments after its name and returns
// the process exit status: 0 success, 1 a failed check or operation (one line
// "qxpack: <reason>" on stderr), 2 a usage error (UsageError).
#pragma once

#include <string>
#include <vector>

using Args = std::vector<std::string>;

int CmdKeygen(const Args& args);   // keygen DIR [--pkcs11 URI]
int CmdAttach(const Args& args);   // attach FILE TYPE DATAFILE
int CmdSign(const Args& args);     // sign FILE --keys DIR
int CmdStub(const Args& args);     // stub --stub S --setup P --type T --keys DIR -o OUT
int CmdInspect(const Args& args);  // inspect FILE [--keys DIR]
int CmdCert(const Args& args);     // cert --root K --key PUB --goal G --expires D -o OUT
int CmdInner(const Args& args);    // inner -o OUT --keys DIR --script S [--chunk-size N] NAME=FILE...
int CmdList(const Args& args);     // list BUNDLE [--goal G]
int CmdExtract(const Args& args);  // extract BUNDLE NAME OUT
int CmdBuild(const Args& args);    // build PRODUCT.json [-o OUT] [overrides]
int CmdVerify(const Args& args);   // verify INSTALLER [--keys DIR] [--goal G]
int CmdUnpack(const Args& args);   // unpack INSTALLER DIR [--x64|--x86] [--windows-major N]

// Prints "qxpack: <message>" on stderr and returns 1.
int Fail(const std::string& message);
// Prints "qxpack COMMAND: <message>" and the command's usage line on stderr
// and returns 2.
int UsageError(const std::string& command, const std::string& message);
// "unknown option ARG" for an option, else "unexpected argument ARG".
std::string UnknownArgument(const std::string& arg);
// UsageError naming an argument the command does not take.
int BadArgument(const std::string& command, const std::string& arg);

class BundleFile;
// Opens an inner bundle exactly as the installation sequence does: validation
// on, the given certificate goal, 25 MiB chunks. On failure `reason` holds the
// trace lines of the refusal (cmd_list.cc).
bool OpenValidated(BundleFile* bundle, const std::string& path, const std::string& goal,
                   std::string* reason);
