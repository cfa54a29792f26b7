// The key certificate of an inner bundle's signature block.
#include <cryptopp/rsa.h>

#include <cstdint>
#include <limits>

#include "fuzz/fuzz_support.h"
#include "integrity/key_certificate.h"
#include "integrity/pss_verifier.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > static_cast<size_t>(std::numeric_limits<int32_t>::max())) return 0;
  const auto key = CheckKeyCertificate(data, static_cast<int32_t>(size), "IBND");
  if (key) {
    // What bundle validation does next with a certified key.
    try {
      PssVerifierFilter verifier(*key);
      verifier.Put(data, size);
      verifier.End();
    } catch (...) {
    }
  }
  return 0;
}
