// Speed of the stub's hot paths in the libraries it links, to choose their
// build flags: MD5, SHA-1 and SHA-256 over 64 MB, RSA public operations
// (signature checks) with 2048- and 4096-bit keys, and inflating 64 MB. Each
// figure is the best of three rounds. Prints one line per path.
#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/integer.h>
#include <cryptopp/md5.h>
#include <cryptopp/osrng.h>
#include <cryptopp/rsa.h>
#include <cryptopp/sha.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

constexpr size_t kBytes = 64u << 20;

template <typename Work>
double BestSeconds(Work work) {
  double best = 1e30;
  for (int round = 0; round < 3; ++round) {
    const auto start = std::chrono::steady_clock::now();
    work();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

template <typename Hash>
void HashSpeed(const char* name, const std::vector<unsigned char>& data) {
  unsigned char digest[64];
  const double s = BestSeconds([&] {
    Hash hash;
    hash.CalculateDigest(digest, data.data(), data.size());
  });
  std::printf("%-12s %9.1f MB/s\n", name, data.size() / s / 1e6);
}

void RsaSpeed(unsigned bits, long exponent) {
  CryptoPP::AutoSeededRandomPool rng;
  CryptoPP::InvertibleRSAFunction key;
  key.Initialize(rng, bits, exponent);
  const CryptoPP::RSAFunction pub(key);
  const CryptoPP::Integer x = key.CalculateInverse(rng, CryptoPP::Integer(12345));
  constexpr int kOps = 2000;
  const double s = BestSeconds([&] {
    for (int i = 0; i < kOps; ++i) pub.ApplyFunction(x);
  });
  std::printf("rsa-%-4u e=%-2ld %9.0f checks/s\n", bits, exponent, kOps / s);
}

void InflateSpeed(const std::vector<unsigned char>& data) {
  std::vector<unsigned char> packed(compressBound(data.size()));
  uLongf packedSize = packed.size();
  compress2(packed.data(), &packedSize, data.data(), data.size(), 6);
  std::vector<unsigned char> out(data.size());
  const double s = BestSeconds([&] {
    uLongf outSize = out.size();
    uncompress(out.data(), &outSize, packed.data(), packedSize);
  });
  std::printf("%-12s %9.1f MB/s (out)\n", "inflate", data.size() / s / 1e6);
}

}  // namespace

int main() {
  // Text-like bytes: compressible about as much as a product's files.
  std::vector<unsigned char> data(kBytes);
  unsigned state = 12345;
  for (size_t i = 0; i < data.size(); ++i) {
    state = state * 1103515245u + 12345u;
    data[i] = static_cast<unsigned char>("etaoin shrdlu cmfwyp"[(state >> 16) % 20]);
  }
  HashSpeed<CryptoPP::Weak1::MD5>("md5", data);
  HashSpeed<CryptoPP::SHA1>("sha-1", data);
  HashSpeed<CryptoPP::SHA256>("sha-256", data);
  RsaSpeed(2048, 65537);
  RsaSpeed(4096, 17);
  InflateSpeed(data);
  return 0;
}
