// qxpack build PRODUCT.json [-o OUT.exe] [...]: from a product description to
// a finished, signed installer in one command. Everything is checked before
// anything is written, and the output appears only complete (written under a
// temporary name and renamed at the end).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "integrity/builtin_keys.h"
#include "integrity/file_signature.h"
#include "tools/packlib/attachment_writer.h"
#include "tools/packlib/exe_signer.h"
#include "tools/packlib/file_io.h"
#include "tools/packlib/inner_bundle_files.h"
#include "tools/packlib/key_set.h"
#include "tools/packlib/pe_bundle_section.h"
#include "tools/packlib/pkcs11_token.h"
#include "tools/qxpack/commands.h"
#include "tools/qxpack/default_stub.h"
#include "tools/qxpack/product.h"
#include "tools/qxpack/progress_line.h"
#include "tools/qxpack/scratch_dir.h"
#include "tools/qxpack/stub_keys.h"
#include "util/platform.h"
#include "util/text_conv.h"

namespace fs = std::filesystem;

namespace {

std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Writes `secret` to a file only the owner can read, so that it never shows
// in the process list.
std::string SecretFile(const std::string& scratch, const std::string& secret) {
  const std::string path = scratch + "/pass";
  std::ofstream(path) << secret;
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
  return path;
}

// Adds an Authenticode signature with osslsigncode; `in` is replaced. A key
// given as a pkcs11: URI stays in its token: osslsigncode signs through the
// PKCS #11 module (the OpenSSL pkcs11 engine), with the PIN from the URI,
// its pin-source or QX_PKCS11_PIN.
bool Authenticode(const AuthenticodeCredentials& c, const std::string& in,
                  const std::string& scratch, std::string* error) {
  const std::string out = in + ".signed", log = scratch + "/osslsigncode.log";
  std::string cmd = "osslsigncode sign";
  std::string password = c.password;
  if (!c.pkcs12.empty()) {
    cmd += " -pkcs12 " + ShellQuote(c.pkcs12);
  } else if (c.key.compare(0, 7, "pkcs11:") == 0) {
    const std::string module = TokenModulePath(c.key);
    if (module.empty()) {
      *error = "the Authenticode key: not a valid PKCS #11 URI";
      return false;
    }
    if (!TokenPin(c.key, &password, error)) {
      *error = "the Authenticode key: " + *error;
      return false;
    }
    // The engine takes the module and the PIN apart from the URI and does not
    // parse a query, so it gets the URI's path alone.
    cmd += " -pkcs11module " + ShellQuote(module) + " -certs " + ShellQuote(c.certificate) +
           " -key " + ShellQuote(c.key.substr(0, c.key.find('?')));
  } else {
    cmd += " -certs " + ShellQuote(c.certificate) + " -key " + ShellQuote(c.key);
  }
  if (!password.empty()) cmd += " -readpass " + ShellQuote(SecretFile(scratch, password));
  cmd += " -in " + ShellQuote(in) + " -out " + ShellQuote(out) + " >" + ShellQuote(log) + " 2>&1";
  const int status = std::system(cmd.c_str());
  std::error_code ec;
  if (status != 0 || !fs::is_regular_file(out)) {
    std::ifstream text(log);
    std::string said, line;
    while (std::getline(text, line) && said.size() < 300)
      if (!line.empty()) said += (said.empty() ? ": " : "; ") + line;
    *error = "osslsigncode failed" + said +
             (status == 127 * 256 ? " (is osslsigncode installed?)" : "");
    fs::remove(out, ec);
    return false;
  }
  fs::rename(out, in, ec);
  if (ec) *error = "cannot replace " + in + ": " + ec.message();
  return !ec;
}

bool AppendToFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::app);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

struct Inputs {
  std::vector<uint8_t> stub, setup, a404;
  std::unique_ptr<PrivateKeySigner> exe_key;
};

// Every check that needs no output, so a failure leaves nothing behind.
bool LoadInputs(const ProductDescription& p, Inputs* in, std::string* error) {
  auto refuse = [error](const std::string& why) {
    *error = why;
    return false;
  };
  PeFacts facts;
  std::string why;
  if (!ReadFileBytes(MultiByteToWide(p.stub), &in->stub)) return refuse("cannot read the stub " + p.stub);
  if (!ReadPeFacts(in->stub, &facts, &why))
    return refuse("the stub " + p.stub + " is not a PE file: " + why);
  if (!ReadFileBytes(MultiByteToWide(p.setup), &in->setup))
    return refuse("cannot read the setup program " + p.setup);
  if (!ReadPeFacts(in->setup, &facts, &why))
    return refuse("the setup program " + p.setup + " is not a PE file: " + why);
  if (!p.a404.empty() && !ReadFileBytes(MultiByteToWide(p.a404), &in->a404))
    return refuse("cannot read the A404 file " + p.a404);
  // A token key for Authenticode is opened once here, so that a wrong PIN or
  // a missing key is reported before anything is written. It is opened (and
  // closed) first: a token this process is logged in to would accept any PIN.
  if (p.authenticode.key.compare(0, 7, "pkcs11:") == 0) {
    std::unique_ptr<PrivateKeySigner> authenticode;
    if (!OpenTokenSigner(p.authenticode.key, &authenticode, &why))
      return refuse("the Authenticode key: " + why);
  }
  PublicKeyHalves halves;
  if (!OpenKeySetSigner(MultiByteToWide(p.keys), KeyRole::kExeSigning, &in->exe_key, error) ||
      !LoadPublicKeyHalves(MultiByteToWide(p.keys), &halves, error))
    return false;
  // The stub trusts the set it is signed with: its key block is rewritten
  // before signing, and the checks below verify with the same keys.
  std::vector<uint8_t> block;
  if (!MakeKeyBlock(halves, &block, error)) return refuse("the key set " + p.keys + " " + *error);
  if (!WriteKeyBlock(&in->stub, block, error)) return refuse("the stub " + p.stub + ": " + *error);
  UseKeyBlock(block.data(), block.size());
  return true;
}

// Overrides from the command line, then the product description.
// False with what is wrong with the arguments.
bool ParseArgs(const Args& args, std::string* description, std::map<std::string, std::string>* opt,
               std::string* error) {
  static const char* const kOptions[] = {"-o", "--stub", "--setup", "--type", "--keys",
                                         "--authenticode-cert", "--authenticode-key",
                                         "--authenticode-pkcs12", "--authenticode-password"};
  for (size_t i = 0; i < args.size(); ++i) {
    bool known = false;
    for (const char* o : kOptions) known = known || args[i] == o;
    if (known && i + 1 < args.size() && !opt->count(args[i])) {
      (*opt)[args[i]] = args[i + 1];
      ++i;
    } else if (!known && description->empty() && args[i][0] != '-') {
      *description = args[i];
    } else {
      *error = !known ? UnknownArgument(args[i])
               : opt->count(args[i]) ? args[i] + " given twice" : args[i] + " needs a value";
      return false;
    }
  }
  if (description->empty()) *error = "needs PRODUCT.json";
  return !description->empty();
}

}  // namespace

int CmdBuild(const Args& args) {
  std::string path, error;
  std::map<std::string, std::string> opt;
  if (!ParseArgs(args, &path, &opt, &error)) return UsageError("build", error);
  ProductDescription p;
  if (!ReadProductDescription(path, &p, &error)) return Fail("build: " + path + ": " + error);
  if (opt.count("-o")) p.output = opt["-o"];
  if (opt.count("--stub")) p.stub = opt["--stub"];
  if (opt.count("--setup")) p.setup = opt["--setup"];
  if (opt.count("--keys")) p.keys = opt["--keys"];
  if (opt.count("--type")) p.type = opt["--type"];
  if (opt.count("--authenticode-cert") || opt.count("--authenticode-pkcs12")) {
    p.authenticode = {opt["--authenticode-cert"], opt["--authenticode-key"],
                      opt["--authenticode-pkcs12"], opt["--authenticode-password"]};
    if (p.authenticode.pkcs12.empty() == p.authenticode.key.empty())
      return UsageError("build", "give --authenticode-cert with --authenticode-key, or --authenticode-pkcs12");
  }
  if (p.stub.empty()) p.stub = DefaultStubPath();
  if (p.type.empty() || p.type.find_first_of(" \t\r\n,") != std::string::npos)
    return Fail("build: the run type must be one word (no blanks or commas)");

  Inputs in;
  ProductContents contents;
  if (!LoadInputs(p, &in, &error) || !GatherProductContents(p, &contents, &error))
    return Fail("build: " + error);
  ScratchDir scratch;
  if (!scratch.ok()) return Fail("build: cannot create a temporary folder");

  // The inner bundle, then the setup program carrying it as "IBND", signed.
  const std::string ibnd = scratch.path() + "/ibnd";
  ProgressBegin("packing product files", contents.input_bytes);
  const bool packed = WriteInnerBundleFile(MultiByteToWide(ibnd), MultiByteToWide(p.keys),
                                           contents.records, p.chunk_size, ProgressUpdate, &error);
  ProgressEnd();
  if (!packed) return Fail("build: inner bundle: " + error);
  std::vector<uint8_t> bundle;
  if (!ReadFileBytes(MultiByteToWide(ibnd), &bundle)) return Fail("build: cannot read " + ibnd);
  std::vector<uint8_t>& setup = in.setup;
  if (!AppendAttachment(&setup, "IBND", bundle.data(), bundle.size()))
    return Fail("build: the inner bundle is too large for an attachment");
  bundle = {};
  if (!AppendWholePrefixSignature(&setup, *in.exe_key, &error)) return Fail("build: " + error);

  // The installer, under a temporary name until it is complete.
  const std::string partial = p.output + ".partial";
  struct Cleanup {
    std::string path;
    ~Cleanup() {
      std::error_code ec;
      if (!path.empty()) fs::remove(path, ec);
    }
  } cleanup{partial};
  std::error_code dir_error;
  fs::create_directories(fs::absolute(p.output).parent_path(), dir_error);
  if (!WriteSignedInstaller(in.stub, setup, p.type, *in.exe_key, MultiByteToWide(partial), &error))
    return Fail("build: " + p.output + ": " + error);
  if (p.authenticode.present()) {
    if (!Authenticode(p.authenticode, partial, scratch.path(), &error))
      return Fail("build: Authenticode: " + error);
    // The header-range attempt is what keeps the stub's own signature valid.
    if (!VerifyFileSignature(MultiByteToWide(partial), false))
      return Fail("build: the installer's signature no longer verifies after Authenticode signing");
  }
  if (!in.a404.empty()) {
    std::vector<uint8_t> a404;
    if (!AppendAttachment(&a404, "A404", in.a404.data(), in.a404.size()) ||
        !AppendToFile(partial, a404))
      return Fail("build: cannot append the A404 file");
  }
  std::error_code ec;
  fs::rename(partial, p.output, ec);
  if (ec) return Fail("build: cannot write " + p.output + ": " + ec.message());
  cleanup.path.clear();

  std::printf("%s: installer written (%llu bytes): %zu records, stub %s, setup program %s, "
              "type \"%s\"%s%s\n",
              p.output.c_str(), static_cast<unsigned long long>(fs::file_size(p.output, ec)),
              contents.records.size(), p.stub.c_str(), p.setup.c_str(), p.type.c_str(),
              p.authenticode.present() ? ", Authenticode-signed" : "",
              in.a404.empty() ? "" : ", with A404");
  return 0;
}
