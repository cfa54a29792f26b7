// qxpack cert: issues a key certificate for a public key.
#include <cstdio>
#include <string>

#include "tools/packlib/crypto_keys.h"
#include "tools/packlib/file_io.h"
#include "tools/packlib/key_cert_writer.h"
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
    if (!target || i + 1 >= args.size()) return Fail("cert: unexpected argument " + a);
    *target = args[++i];
  }
  if (root_path.empty() || key_path.empty() || goal.empty() || expires.empty() || out_path.empty())
    return Fail("cert: needs --root, --key, --goal, --expires and -o");
  if (goal.size() != 4) return Fail("cert: the goal must be four characters: " + goal);
  int32_t expiry = 0;
  if (!ParseExpiryDate(expires, &expiry)) return Fail("cert: not a date (YYYY-MM-DD): " + expires);

  CryptoPP::RSA::PrivateKey root;
  if (!LoadPrivateKey(MultiByteToWide(root_path), &root))
    return Fail("cert: cannot load the root key (PKCS #8 DER) " + root_path);
  CryptoPP::RSA::PublicKey key;
  if (!LoadPublicKey(MultiByteToWide(key_path), &key))
    return Fail("cert: cannot load the public key (SubjectPublicKeyInfo DER) " + key_path);

  const std::vector<uint8_t> cert = MakeKeyCertificate(root, goal, expiry, EncodePublicKey(key));
  if (cert.empty()) return Fail("cert: signing failed");
  if (!WriteFileBytes(MultiByteToWide(out_path), cert))
    return Fail("cert: cannot write " + out_path);
  std::printf("certificate for goal %s, expires %s: %zu bytes\n", goal.c_str(), expires.c_str(),
              cert.size());
  return 0;
}
