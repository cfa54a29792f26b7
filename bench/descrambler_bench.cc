// Speed of the descrambler's group-at-a-time Skip and Apply against the plain
// byte loop, on random bytes (as compressed data looks) fed in 4 KiB pieces as
// the bundle reader passes them. Prints MB/s of each and the ratio; exits 1 if
// the two disagree. Usage: descrambler_bench [megabytes, default 1]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "bundle/descrambler.h"
#include "tests/unit/descrambler_reference.h"

namespace {

constexpr size_t kPiece = 4096;

// Best of many short passes, in MB/s: on a shared machine some pass runs
// undisturbed.
template <typename Pass>
double MegabytesPerSecond(size_t bytes, Pass pass) {
  double best = 1e30;
  for (int run = 0; run < 40; ++run) {
    const auto start = std::chrono::steady_clock::now();
    pass();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return bytes / 1e6 / best;
}

bool Measure(const char* label, size_t key_length, std::vector<uint8_t>* data) {
  std::mt19937 rng(static_cast<uint32_t>(key_length));
  std::vector<uint8_t> key(key_length);
  for (auto& b : key) b = static_cast<uint8_t>(rng());
  Descrambler fast;
  fast.SetKey(key.data(), key.size());
  ReferenceDescrambler reference(key.data(), key.size());
  uint8_t* bytes = data->data();
  const size_t n = data->size();
  // MB/s of call(piece, size, file offset) over the data in pieces.
  auto speed = [&](auto call) {
    return MegabytesPerSecond(n, [&] {
      for (size_t at = 0; at < n; at += kPiece) call(bytes + at, std::min(kPiece, n - at), at);
    });
  };

  std::printf("%-22s", label);
  if (fast.table_mode()) {  // offset mode has nothing to skip
    const double ref = speed([&](uint8_t* p, size_t k, size_t) { reference.Skip(p, k); });
    const double now = speed([&](uint8_t* p, size_t k, size_t) { fast.Skip(p, k); });
    std::printf("  skip %6.0f -> %6.0f MB/s (x%5.2f)", ref, now, now / ref);
  } else {
    std::printf("%37s", "");
  }
  const double ref = speed([&](uint8_t* p, size_t k, size_t at) { reference.Apply(p, k, at); });
  const double now = speed([&](uint8_t* p, size_t k, size_t at) { fast.Apply(p, k, at); });
  std::printf("  apply %6.0f -> %6.0f MB/s (x%5.2f)\n", ref, now, now / ref);

  // A fresh pair over the first megabyte must agree, bytes and state.
  Descrambler check;
  check.SetKey(key.data(), key.size());
  ReferenceDescrambler expected(key.data(), key.size());
  std::vector<uint8_t> a(bytes, bytes + std::min<size_t>(n, 1 << 20)), b = a;
  for (size_t at = 0; at < a.size(); at += kPiece) {
    const size_t k = std::min(kPiece, a.size() - at);
    expected.Apply(a.data() + at, k, at);
    check.Apply(b.data() + at, k, at);
  }
  if (a != b || std::memcmp(&expected.state, &check.state(), sizeof(DescramblerState)) != 0) {
    std::printf("%-22s  MISMATCH between the byte loop and the fast path\n", label);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const size_t megabytes = argc > 1 ? static_cast<size_t>(std::strtoul(argv[1], nullptr, 10)) : 1;
  std::vector<uint8_t> data(std::max<size_t>(megabytes, 1) << 20);
  std::mt19937 rng(1);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  bool ok = Measure("table, 5000-byte key", 5000, &data);
  ok = Measure("table, 16-byte key", 16, &data) && ok;
  ok = Measure("offset, 7-byte key", 7, &data) && ok;
  return ok ? 0 : 1;
}
