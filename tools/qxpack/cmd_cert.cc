// qxpack cert: issues a key certificate for a public key. The root key is a
// PKCS #8 file or a NAME.key.uri file naming a key in a PKCS #11 token, whose
// public half NAME.pub.der lies beside it.
#include <cstdio>
#include <memory>
#include <string>

#include "tools/packlib/crypto_keys.h"
#include "tools/packlib/file_io.h"
#include "tools/packlib/key_cert_writer.h"
#include "tools/packlib/key_set.h"
#include "tools/qxpack/commands.h"
#include "util/text_conv.h"

int CmdCert(const Args& args) {
  std::string root_path, key_path, goal, expires, out_path;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string* target = a == "--root"      ? &root_path
                          : a == "--key"     ? &key_path
                          : a == "--goal"    ? &goal
                          : a == "--expires" ? &expires
                          : a == "-o"        ? &out_path
                                             : nullptr;
    if (!target) return BadArgument("cert", a);
    if (i + 1 >= args.size()) return UsageError("cert", a + " needs a value");
    *target = args[++i];
  }
  if (root_path.empty() || key_path.empty() || goal.empty() || expires.empty() || out_path.empty())
    return UsageError("cert", "needs --root, --key, --goal, --expires and -o");
  if (goal.size() != 4) return Fail("cert: the goal must be four characters: " + goal);
  int32_t expiry = 0;
  if (!ParseExpiryDate(expires, &expiry)) return Fail("cert: not a date (YYYY-MM-DD): " + expires);

  const std::string uri_suffix = ".key.uri";
  std::string public_path;
  if (root_path.size() > uri_suffix.size() &&
      root_path.compare(root_path.size() - uri_suffix.size(), uri_suffix.size(), uri_suffix) == 0)
    public_path = root_path.substr(0, root_path.size() - uri_suffix.size()) + ".pub.der";
  std::unique_ptr<PrivateKeySigner> root;
  std::string error;
  if (!OpenPrivateKey(MultiByteToWide(root_path), MultiByteToWide(public_path), "root key", &root,
                      &error))
    return Fail("cert: " + error);
  CryptoPP::RSA::PublicKey key;
  if (!LoadPublicKey(MultiByteToWide(key_path), &key))
    return Fail("cert: cannot load the public key (SubjectPublicKeyInfo DER) " + key_path);

  const std::vector<uint8_t> cert =
      MakeKeyCertificate(*root, goal, expiry, EncodePublicKey(key), &error);
  if (cert.empty()) return Fail("cert: the root key: " + error);
  if (!WriteFileBytes(MultiByteToWide(out_path), cert))
    return Fail("cert: cannot write " + out_path);
  std::printf("certificate for goal %s, expires %s: %zu bytes\n", goal.c_str(), expires.c_str(),
              cert.size());
  return 0;
}
