// PKCS #11 through p11-kit: it loads and initializes the modules and parses
// and matches the URI; the signing itself is the token's C_Sign. (libp11
// would hide the calls, but its key generation fixes the public exponent at
// 65537, and the executable signing key needs 17.) Digests are
// computed here and only they go to the token, so a large file costs one
// token operation, and the plain mechanisms (CKM_RSA_PKCS, CKM_RSA_PKCS_PSS)
// that most tokens offer are enough.
#include "tools/packlib/pkcs11_token.h"

#include <p11-kit/p11-kit.h>
#include <p11-kit/pkcs11.h>
#include <p11-kit/uri.h>

#include <cryptopp/sha.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <utility>
#include <vector>

namespace {

std::string Hex(unsigned long value) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%lx", value);
  return text;
}

// The token's answer in words for the answers a user can act on.
std::string Explain(CK_RV rv) {
  switch (rv) {
    case CKR_PIN_INCORRECT: return "wrong PIN";
    case CKR_PIN_LOCKED: return "the PIN is locked";
    case CKR_PIN_EXPIRED: return "the PIN has expired";
    case CKR_PIN_LEN_RANGE: return "wrong PIN (not of a length the token accepts)";
    case CKR_TOKEN_NOT_PRESENT: return "the token is not present";
    case CKR_DEVICE_REMOVED: return "the token was removed";
    case CKR_MECHANISM_INVALID: return "the token does not offer this mechanism";
    case CKR_KEY_TYPE_INCONSISTENT: return "the key is not of a kind this mechanism takes";
    case CKR_KEY_FUNCTION_NOT_PERMITTED: return "the key may not sign (CKA_SIGN is false)";
    case CKR_USER_NOT_LOGGED_IN: return "not logged in (no PIN given)";
    case CKR_ATTRIBUTE_VALUE_INVALID: return "the token refused an attribute value";
    case CKR_TEMPLATE_INCONSISTENT: return "the token refused the key template";
    default: return "PKCS #11 error " + Hex(rv);
  }
}

// A field of a token or slot structure: fixed length, blank-padded.
std::string Field(const unsigned char* text, size_t size) {
  std::string s(reinterpret_cast<const char*>(text), size);
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

class Uri {
 public:
  Uri() : uri_(p11_kit_uri_new()) {}
  ~Uri() {
    if (uri_) p11_kit_uri_free(uri_);
  }
  Uri(Uri&& other) noexcept : uri_(std::exchange(other.uri_, nullptr)) {}
  Uri& operator=(Uri&&) = delete;
  Uri(const Uri&) = delete;
  Uri& operator=(const Uri&) = delete;

  bool Parse(const std::string& text, std::string* error) {
    if (text.compare(0, 7, "pkcs11:") != 0) {
      *error = "not a PKCS #11 URI (it must start with pkcs11:)";
      return false;
    }
    const int code = p11_kit_uri_parse(text.c_str(), P11_KIT_URI_FOR_ANY, uri_);
    if (code != P11_KIT_URI_OK) {
      *error = std::string("not a valid PKCS #11 URI: ") + p11_kit_uri_message(code);
      return false;
    }
    return true;
  }
  P11KitUri* get() const { return uri_; }

 private:
  P11KitUri* uri_;
};

// The modules to search, loaded and initialized: one named module, or every
// module p11-kit is configured with (what its proxy module would offer; the
// proxy itself is not loaded through p11-kit). p11-kit manages each, so that
// several keys opened from one module each have their own initialization.
class Modules {
 public:
  Modules() = default;
  ~Modules() { Reset(); }
  Modules(Modules&& other) noexcept
      : list_(std::move(other.list_)), registered_(std::exchange(other.registered_, nullptr)) {
    other.list_.clear();
  }
  Modules& operator=(Modules&&) = delete;
  Modules(const Modules&) = delete;
  Modules& operator=(const Modules&) = delete;

  bool Load(const std::string& path, std::string* error) {
    if (path == QX_P11KIT_PROXY_MODULE) {
      registered_ = p11_kit_modules_load_and_initialize(0);
      for (CK_FUNCTION_LIST** m = registered_; m && *m; ++m) list_.push_back(*m);
      if (list_.empty()) {
        const char* why = p11_kit_message();
        *error = "no PKCS #11 module is configured with p11-kit (give module-path in the URI or "
                 "set QX_PKCS11_MODULE)" + (why ? std::string(": ") + why : "");
        return false;
      }
      return true;
    }
    CK_FUNCTION_LIST* f = p11_kit_module_load(path.c_str(), 0);
    if (!f) {
      const char* why = p11_kit_message();
      *error = "the PKCS #11 module " + path + " does not load" +
               (why ? std::string(": ") + why : "");
      return false;
    }
    const CK_RV rv = p11_kit_module_initialize(f);
    if (rv != CKR_OK) {
      p11_kit_module_release(f);
      *error = "the PKCS #11 module " + path + " does not initialize: " + Explain(rv);
      return false;
    }
    list_.push_back(f);
    return true;
  }
  const std::vector<CK_FUNCTION_LIST*>& list() const { return list_; }

 private:
  void Reset() {
    if (registered_) {
      p11_kit_modules_finalize_and_release(registered_);
    } else {
      for (CK_FUNCTION_LIST* f : list_) {
        p11_kit_module_finalize(f);
        p11_kit_module_release(f);
      }
    }
    registered_ = nullptr;
    list_.clear();
  }
  std::vector<CK_FUNCTION_LIST*> list_;
  CK_FUNCTION_LIST** registered_ = nullptr;
};

// An open session, logged in when a PIN was given; closed (and logged out,
// when this session logged in) on destruction.
class Session {
 public:
  Session() = default;
  ~Session() { Reset(); }
  Session(Session&& other) noexcept
      : f_(std::exchange(other.f_, nullptr)), h_(other.h_), logged_in_(other.logged_in_) {}
  Session& operator=(Session&& other) noexcept {
    if (this != &other) {
      Reset();
      f_ = std::exchange(other.f_, nullptr);
      h_ = other.h_;
      logged_in_ = other.logged_in_;
    }
    return *this;
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  CK_RV Open(CK_FUNCTION_LIST* f, CK_SLOT_ID slot, bool rw) {
    CK_SESSION_HANDLE h = 0;
    const CK_RV rv = f->C_OpenSession(slot, CKF_SERIAL_SESSION | (rw ? CKF_RW_SESSION : 0), nullptr,
                                      nullptr, &h);
    if (rv == CKR_OK) {
      Reset();
      f_ = f;
      h_ = h;
    }
    return rv;
  }
  CK_RV Login(CK_USER_TYPE who, const std::string& pin) {
    CK_RV rv = f_->C_Login(h_, who, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(pin.data())),
                           pin.size());
    if (rv == CKR_OK && who == CKU_USER) logged_in_ = true;
    // Another session of this application logged in: the login is shared.
    if (rv == CKR_USER_ALREADY_LOGGED_IN) rv = CKR_OK;
    return rv;
  }
  CK_FUNCTION_LIST* f() const { return f_; }
  CK_SESSION_HANDLE h() const { return h_; }

 private:
  void Reset() {
    if (!f_) return;
    if (logged_in_) f_->C_Logout(h_);
    f_->C_CloseSession(h_);
    f_ = nullptr;
    logged_in_ = false;
  }
  CK_FUNCTION_LIST* f_ = nullptr;
  CK_SESSION_HANDLE h_ = 0;
  bool logged_in_ = false;
};

bool ReadAttribute(const Session& s, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type,
                   std::vector<uint8_t>* value) {
  CK_ATTRIBUTE a = {type, nullptr, 0};
  if (s.f()->C_GetAttributeValue(s.h(), object, &a, 1) != CKR_OK ||
      a.ulValueLen == CK_UNAVAILABLE_INFORMATION)
    return false;
  value->resize(a.ulValueLen);
  a.pValue = value->data();
  return s.f()->C_GetAttributeValue(s.h(), object, &a, 1) == CKR_OK;
}

bool ReadUlong(const Session& s, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type, CK_ULONG* value) {
  CK_ATTRIBUTE a = {type, value, sizeof *value};
  return s.f()->C_GetAttributeValue(s.h(), object, &a, 1) == CKR_OK;
}

// Up to `max` objects matching `attributes`.
CK_RV FindObjects(const Session& s, std::vector<CK_ATTRIBUTE>& attributes, CK_ULONG max,
                  std::vector<CK_OBJECT_HANDLE>* found) {
  CK_RV rv = s.f()->C_FindObjectsInit(s.h(), attributes.data(), attributes.size());
  if (rv != CKR_OK) return rv;
  found->resize(max);
  CK_ULONG count = 0;
  rv = s.f()->C_FindObjects(s.h(), found->data(), max, &count);
  s.f()->C_FindObjectsFinal(s.h());
  found->resize(rv == CKR_OK ? count : 0);
  return rv;
}

// A public key from its modulus and exponent (big-endian bytes).
bool RsaPublicKey(const std::vector<uint8_t>& modulus, const std::vector<uint8_t>& exponent,
                  CryptoPP::RSA::PublicKey* key) {
  if (modulus.empty() || exponent.empty()) return false;
  key->Initialize(CryptoPP::Integer(modulus.data(), modulus.size()),
                  CryptoPP::Integer(exponent.data(), exponent.size()));
  return true;
}

std::string ModulePathOf(const Uri& uri) {
  const char* path = p11_kit_uri_get_module_path(uri.get());
  if (path && *path) return path;
  const char* env = std::getenv("QX_PKCS11_MODULE");
  if (env && *env) return env;
  return QX_P11KIT_PROXY_MODULE;
}

bool PinOf(const Uri& uri, std::string* pin, std::string* error) {
  const char* value = p11_kit_uri_get_pin_value(uri.get());
  if (value) {
    *pin = value;
    return true;
  }
  const char* source = p11_kit_uri_get_pin_source(uri.get());
  if (source && *source) {
    std::string path = source;
    if (path.compare(0, 5, "file:") == 0) path.erase(0, 5);
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      *error = "cannot read the PIN file " + path + " (pin-source)";
      return false;
    }
    pin->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    while (!pin->empty() && (pin->back() == '\n' || pin->back() == '\r')) pin->pop_back();
    return true;
  }
  const char* env = std::getenv("QX_PKCS11_PIN");
  *pin = env ? env : "";
  return true;
}

// The modules loaded, the one token the URI matches found, a session open and
// logged in. Shared by signing and key generation.
struct TokenSession {
  Modules modules;  // declared first: the session closes before the modules go
  Session session;
  std::string token;  // the token's label, for messages
  std::string pin;

  bool Open(const Uri& uri, bool rw, std::string* error) {
    const std::string path = ModulePathOf(uri);
    if (!PinOf(uri, &pin, error) || !modules.Load(path, error)) return false;
    struct Match {
      CK_FUNCTION_LIST* f;
      CK_SLOT_ID slot;
      std::string label;
    };
    std::vector<Match> matches;
    for (CK_FUNCTION_LIST* f : modules.list()) {
      CK_INFO info;
      if (f->C_GetInfo(&info) != CKR_OK || !p11_kit_uri_match_module_info(uri.get(), &info))
        continue;
      CK_ULONG count = 0;
      CK_RV rv = f->C_GetSlotList(CK_TRUE, nullptr, &count);
      std::vector<CK_SLOT_ID> slots(count);
      if (rv == CKR_OK && count) rv = f->C_GetSlotList(CK_TRUE, slots.data(), &count);
      if (rv != CKR_OK) continue;
      slots.resize(count);
      for (CK_SLOT_ID slot : slots) {
        CK_SLOT_INFO slot_info;
        CK_TOKEN_INFO token_info;
        if (f->C_GetSlotInfo(slot, &slot_info) != CKR_OK ||
            f->C_GetTokenInfo(slot, &token_info) != CKR_OK)
          continue;
        // An uninitialized token holds no keys; it never matches.
        if (!(token_info.flags & CKF_TOKEN_INITIALIZED)) continue;
        if (p11_kit_uri_match_slot_info(uri.get(), &slot_info) &&
            p11_kit_uri_match_token_info(uri.get(), &token_info))
          matches.push_back({f, slot, Field(token_info.label, sizeof token_info.label)});
      }
    }
    const CK_TOKEN_INFO* wanted = p11_kit_uri_get_token_info(uri.get());
    const std::string named =
        wanted && wanted->label[0] ? "token \"" + Field(wanted->label, sizeof wanted->label) + "\""
                                   : "matching token";
    const std::string where = path == QX_P11KIT_PROXY_MODULE
                                  ? "the modules configured with p11-kit"
                                  : "the module " + path;
    if (matches.empty()) {
      *error = "no " + named + " in " + where;
      return false;
    }
    if (matches.size() > 1) {
      *error = std::to_string(matches.size()) + " tokens match the URI; name one with token=";
      return false;
    }
    CK_FUNCTION_LIST* f = matches[0].f;
    token = matches[0].label;
    CK_RV rv = session.Open(f, matches[0].slot, rw);
    if (rv != CKR_OK) {
      *error = "cannot open a session with token \"" + token + "\": " + Explain(rv);
      return false;
    }
    CK_TOKEN_INFO token_info;
    const bool needs_login =
        f->C_GetTokenInfo(matches[0].slot, &token_info) != CKR_OK ||
        (token_info.flags & CKF_LOGIN_REQUIRED);
    if (pin.empty()) {
      if (!needs_login) return true;
      *error = "token \"" + token +
               "\" needs a PIN: give pin-value or pin-source in the URI, or set QX_PKCS11_PIN";
      return false;
    }
    rv = session.Login(CKU_USER, pin);
    if (rv != CKR_OK) {
      *error = Explain(rv) + " for token \"" + token + "\"";
      return false;
    }
    return true;
  }
};

// The DER prefix of a SHA-1 DigestInfo (PKCS #1 v1.5 signatures).
const uint8_t kSha1DigestInfo[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e,
                                   0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14};

class TokenSigner : public PrivateKeySigner {
 public:
  TokenSigner(TokenSession token, CK_OBJECT_HANDLE key, const CryptoPP::RSA::PublicKey& public_key,
              bool always_authenticate)
      : token_(std::move(token)),
        key_(key),
        public_(public_key),
        always_authenticate_(always_authenticate) {}

  const CryptoPP::RSA::PublicKey& PublicKey() const override { return public_; }
  std::unique_ptr<SignatureAccumulator> Begin(SignatureScheme scheme) const override;

  // Signs a digest: SHA-1 as a PKCS #1 v1.5 DigestInfo, SHA-256 with PSS.
  bool SignDigest(SignatureScheme scheme, const std::vector<uint8_t>& digest,
                  std::vector<uint8_t>* signature, std::string* error) const {
    const Session& s = token_.session;
    CK_RSA_PKCS_PSS_PARAMS pss = {CKM_SHA256, CKG_MGF1_SHA256, 32};
    CK_MECHANISM mechanism = {CKM_RSA_PKCS, nullptr, 0};
    std::vector<uint8_t> input(digest);
    if (scheme == SignatureScheme::kPkcs1Sha1) {
      input.insert(input.begin(), std::begin(kSha1DigestInfo), std::end(kSha1DigestInfo));
    } else {
      mechanism = {CKM_RSA_PKCS_PSS, &pss, sizeof pss};
    }
    const char* name = scheme == SignatureScheme::kPkcs1Sha1 ? "CKM_RSA_PKCS" : "CKM_RSA_PKCS_PSS";
    CK_RV rv = s.f()->C_SignInit(s.h(), &mechanism, key_);
    if (rv == CKR_OK && always_authenticate_) {
      // A key that wants the PIN for every signature (CKA_ALWAYS_AUTHENTICATE).
      rv = s.f()->C_Login(s.h(), CKU_CONTEXT_SPECIFIC,
                          reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(token_.pin.data())),
                          token_.pin.size());
    }
    CK_ULONG length = 0;
    if (rv == CKR_OK) rv = s.f()->C_Sign(s.h(), input.data(), input.size(), nullptr, &length);
    std::vector<uint8_t> out(length);
    if (rv == CKR_OK) rv = s.f()->C_Sign(s.h(), input.data(), input.size(), out.data(), &length);
    if (rv != CKR_OK) {
      *error = std::string("token \"") + token_.token + "\" did not sign (" + name + "): " +
               Explain(rv);
      return false;
    }
    out.resize(length);
    // A signature shorter than the modulus is left-padded with zeros, as the
    // verifier reads a number of exactly the modulus length.
    if (out.size() < SignatureLength()) out.insert(out.begin(), SignatureLength() - out.size(), 0);
    signature->swap(out);
    return true;
  }

 private:
  TokenSession token_;
  CK_OBJECT_HANDLE key_;
  CryptoPP::RSA::PublicKey public_;
  bool always_authenticate_;
};

class TokenAccumulator : public SignatureAccumulator {
 public:
  TokenAccumulator(const TokenSigner& signer, SignatureScheme scheme)
      : signer_(signer), scheme_(scheme) {}
  void Update(const uint8_t* data, size_t n) override {
    if (scheme_ == SignatureScheme::kPkcs1Sha1) {
      sha1_.Update(data, n);
    } else {
      sha256_.Update(data, n);
    }
  }
  bool Finish(std::vector<uint8_t>* signature, std::string* error) override {
    std::vector<uint8_t> digest;
    if (scheme_ == SignatureScheme::kPkcs1Sha1) {
      digest.resize(CryptoPP::SHA1::DIGESTSIZE);
      sha1_.Final(digest.data());
    } else {
      digest.resize(CryptoPP::SHA256::DIGESTSIZE);
      sha256_.Final(digest.data());
    }
    return signer_.SignDigest(scheme_, digest, signature, error);
  }

 private:
  const TokenSigner& signer_;
  SignatureScheme scheme_;
  CryptoPP::SHA1 sha1_;
  CryptoPP::SHA256 sha256_;
};

std::unique_ptr<SignatureAccumulator> TokenSigner::Begin(SignatureScheme scheme) const {
  return std::make_unique<TokenAccumulator>(*this, scheme);
}

// The URI's object attributes as a search template, always for a private key.
bool PrivateKeyTemplate(const Uri& uri, std::vector<CK_ATTRIBUTE>* attributes,
                        CK_OBJECT_CLASS* private_class, std::string* error) {
  CK_ULONG n = 0;
  const CK_ATTRIBUTE* given = p11_kit_uri_get_attributes(uri.get(), &n);
  attributes->assign(given, given + n);
  for (const CK_ATTRIBUTE& a : *attributes) {
    if (a.type == CKA_CLASS) {
      CK_OBJECT_CLASS c = 0;
      std::memcpy(&c, a.pValue, std::min<size_t>(sizeof c, a.ulValueLen));
      if (c != CKO_PRIVATE_KEY) {
        *error = "the URI names an object of another type than a private key (type=private)";
        return false;
      }
      return true;
    }
  }
  attributes->push_back({CKA_CLASS, private_class, sizeof *private_class});
  return true;
}

std::string ObjectName(const Uri& uri) {
  CK_ATTRIBUTE* label = p11_kit_uri_get_attribute(uri.get(), CKA_LABEL);
  if (label && label->pValue)
    return "private key \"" +
           std::string(static_cast<const char*>(label->pValue), label->ulValueLen) + "\"";
  return "private key";
}

}  // namespace

std::string TokenModulePath(const std::string& text) {
  Uri uri;
  std::string error;
  return uri.Parse(text, &error) ? ModulePathOf(uri) : std::string();
}

bool TokenPin(const std::string& text, std::string* pin, std::string* error) {
  Uri uri;
  return uri.Parse(text, error) && PinOf(uri, pin, error);
}

bool OpenTokenSigner(const std::string& text, std::unique_ptr<PrivateKeySigner>* signer,
                     std::string* error) {
  Uri uri;
  TokenSession token;
  if (!uri.Parse(text, error) || !token.Open(uri, false, error)) return false;
  const Session& s = token.session;
  std::vector<CK_ATTRIBUTE> attributes;
  CK_OBJECT_CLASS private_class = CKO_PRIVATE_KEY;
  if (!PrivateKeyTemplate(uri, &attributes, &private_class, error)) return false;
  std::vector<CK_OBJECT_HANDLE> found;
  const CK_RV rv = FindObjects(s, attributes, 2, &found);
  const std::string what = ObjectName(uri) + " in token \"" + token.token + "\"";
  if (rv != CKR_OK) {
    *error = "cannot search token \"" + token.token + "\": " + Explain(rv);
    return false;
  }
  if (found.empty()) {
    *error = "no " + what +
             (token.pin.empty() ? " (no PIN given: private keys may be hidden)" : "");
    return false;
  }
  if (found.size() > 1) {
    *error = "more than one " + what + " matches the URI; name one with object= or id=";
    return false;
  }
  const CK_OBJECT_HANDLE key = found[0];
  CK_ULONG key_type = 0;
  if (!ReadUlong(s, key, CKA_KEY_TYPE, &key_type) || key_type != CKK_RSA) {
    *error = "the " + what + " is not an RSA key";
    return false;
  }
  // The public half: on the private key object itself, or on the public key
  // object of the same CKA_ID.
  std::vector<uint8_t> modulus, exponent, id;
  if (!ReadAttribute(s, key, CKA_MODULUS, &modulus) ||
      !ReadAttribute(s, key, CKA_PUBLIC_EXPONENT, &exponent)) {
    CK_OBJECT_CLASS public_class = CKO_PUBLIC_KEY;
    std::vector<CK_ATTRIBUTE> pub = {{CKA_CLASS, &public_class, sizeof public_class}};
    if (ReadAttribute(s, key, CKA_ID, &id)) pub.push_back({CKA_ID, id.data(), id.size()});
    std::vector<CK_OBJECT_HANDLE> publics;
    if (id.empty() || FindObjects(s, pub, 1, &publics) != CKR_OK || publics.empty() ||
        !ReadAttribute(s, publics[0], CKA_MODULUS, &modulus) ||
        !ReadAttribute(s, publics[0], CKA_PUBLIC_EXPONENT, &exponent)) {
      *error = "cannot read the public half of the " + what;
      return false;
    }
  }
  CryptoPP::RSA::PublicKey public_key;
  if (!RsaPublicKey(modulus, exponent, &public_key)) {
    *error = "cannot read the public half of the " + what;
    return false;
  }
  CK_BBOOL can_sign = CK_TRUE, always = CK_FALSE;
  CK_ATTRIBUTE flags[] = {{CKA_SIGN, &can_sign, sizeof can_sign}};
  if (s.f()->C_GetAttributeValue(s.h(), key, flags, 1) == CKR_OK && !can_sign) {
    *error = "the " + what + " may not sign (CKA_SIGN is false)";
    return false;
  }
  CK_ATTRIBUTE always_attribute = {CKA_ALWAYS_AUTHENTICATE, &always, sizeof always};
  if (s.f()->C_GetAttributeValue(s.h(), key, &always_attribute, 1) != CKR_OK) always = CK_FALSE;
  *signer = std::make_unique<TokenSigner>(std::move(token), key, public_key, always == CK_TRUE);
  return true;
}

struct TokenKeyGenerator::Impl {
  std::string text;  // the URI given to Open
  TokenSession token;
  std::vector<CK_OBJECT_HANDLE> made;
  bool keep = false;

  ~Impl() {
    if (keep) return;
    for (CK_OBJECT_HANDLE object : made)
      token.session.f()->C_DestroyObject(token.session.h(), object);
  }
};

TokenKeyGenerator::TokenKeyGenerator() = default;
TokenKeyGenerator::~TokenKeyGenerator() = default;
TokenKeyGenerator::TokenKeyGenerator(TokenKeyGenerator&&) noexcept = default;
TokenKeyGenerator& TokenKeyGenerator::operator=(TokenKeyGenerator&&) noexcept = default;

bool TokenKeyGenerator::Open(const std::string& text, std::string* error) {
  Uri uri;
  auto impl = std::make_unique<Impl>();
  if (!uri.Parse(text, error) || !impl->token.Open(uri, true, error)) return false;
  impl->text = text;
  impl_ = std::move(impl);
  return true;
}

bool TokenKeyGenerator::Generate(const std::string& label, unsigned bits, unsigned exponent,
                                 CryptoPP::RSA::PublicKey* public_key, std::string* key_uri,
                                 std::string* error) {
  if (!impl_) {
    *error = "internal error: no token open";
    return false;
  }
  const Session& s = impl_->token.session;
  const std::string& token = impl_->token.token;
  // Never two keys of one label: signing finds keys by it.
  CK_OBJECT_CLASS private_class = CKO_PRIVATE_KEY;
  std::vector<CK_ATTRIBUTE> same = {
      {CKA_CLASS, &private_class, sizeof private_class},
      {CKA_LABEL, const_cast<char*>(label.data()), label.size()}};
  std::vector<CK_OBJECT_HANDLE> found;
  if (FindObjects(s, same, 1, &found) != CKR_OK || !found.empty()) {
    *error = "token \"" + token + "\" already holds a private key \"" + label +
             "\"; refusing to add another";
    return false;
  }
  CK_MECHANISM mechanism = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
  CK_ULONG modulus_bits = bits;
  std::vector<uint8_t> e;
  for (unsigned v = exponent; v; v >>= 8) e.insert(e.begin(), static_cast<uint8_t>(v & 0xff));
  CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
  std::vector<uint8_t> id(label.begin(), label.end());
  CK_ATTRIBUTE public_template[] = {
      {CKA_TOKEN, &yes, sizeof yes},
      {CKA_PRIVATE, &no, sizeof no},
      {CKA_VERIFY, &yes, sizeof yes},
      {CKA_ENCRYPT, &no, sizeof no},
      {CKA_WRAP, &no, sizeof no},
      {CKA_MODULUS_BITS, &modulus_bits, sizeof modulus_bits},
      {CKA_PUBLIC_EXPONENT, e.data(), e.size()},
      {CKA_LABEL, const_cast<char*>(label.data()), label.size()},
      {CKA_ID, id.data(), id.size()},
  };
  // Sensitive and not extractable: the private half never leaves the token.
  CK_ATTRIBUTE private_template[] = {
      {CKA_TOKEN, &yes, sizeof yes},
      {CKA_PRIVATE, &yes, sizeof yes},
      {CKA_SENSITIVE, &yes, sizeof yes},
      {CKA_EXTRACTABLE, &no, sizeof no},
      {CKA_SIGN, &yes, sizeof yes},
      {CKA_DECRYPT, &no, sizeof no},
      {CKA_UNWRAP, &no, sizeof no},
      {CKA_LABEL, const_cast<char*>(label.data()), label.size()},
      {CKA_ID, id.data(), id.size()},
  };
  CK_OBJECT_HANDLE pub = 0, priv = 0;
  const CK_RV rv = s.f()->C_GenerateKeyPair(
      s.h(), &mechanism, public_template, std::size(public_template), private_template,
      std::size(private_template), &pub, &priv);
  if (rv != CKR_OK) {
    *error = "token \"" + token + "\" did not generate the " + std::to_string(bits) +
             "-bit key \"" + label + "\": " + Explain(rv);
    return false;
  }
  impl_->made.push_back(pub);
  impl_->made.push_back(priv);
  std::vector<uint8_t> modulus, exponent_bytes;
  if (!ReadAttribute(s, pub, CKA_MODULUS, &modulus) ||
      !ReadAttribute(s, pub, CKA_PUBLIC_EXPONENT, &exponent_bytes) ||
      !RsaPublicKey(modulus, exponent_bytes, public_key)) {
    *error = "cannot read the public half of the new key \"" + label + "\"";
    return false;
  }
  if (public_key->GetModulus().BitCount() != bits || public_key->GetPublicExponent() != exponent) {
    *error = "token \"" + token + "\" made the key \"" + label + "\" of another size or exponent";
    return false;
  }
  // The given URI with this key's object attributes, keeping its module and PIN.
  Uri uri;
  if (!uri.Parse(impl_->text, error)) return false;
  CK_ATTRIBUTE label_attribute = {CKA_LABEL, const_cast<char*>(label.data()), label.size()};
  CK_ATTRIBUTE class_attribute = {CKA_CLASS, &private_class, sizeof private_class};
  p11_kit_uri_clear_attribute(uri.get(), CKA_ID);
  p11_kit_uri_set_attribute(uri.get(), &label_attribute);
  p11_kit_uri_set_attribute(uri.get(), &class_attribute);
  char* formatted = nullptr;
  if (p11_kit_uri_format(uri.get(), P11_KIT_URI_FOR_ANY, &formatted) != P11_KIT_URI_OK) {
    *error = "cannot write the URI of the new key \"" + label + "\"";
    return false;
  }
  *key_uri = formatted;
  std::free(formatted);
  return true;
}

void TokenKeyGenerator::Keep() {
  if (impl_) impl_->keep = true;
}
