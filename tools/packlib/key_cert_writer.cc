#include "tools/packlib/key_cert_writer.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "util/byte_reader.h"

std::vector<uint8_t> MakeKeyCertificate(const PrivateKeySigner& root, const std::string& goal,
                                        int32_t expiry, const std::vector<uint8_t>& public_key_der,
                                        std::string* error) {
  std::string why;
  if (!error) error = &why;
  if (goal.size() != 4 || public_key_der.size() > INT32_MAX - 16) {
    *error = "the goal must be four bytes and the key of sane size";
    return {};
  }
  std::vector<uint8_t> cert(12 + public_key_der.size());
  std::copy(goal.begin(), goal.end(), cert.begin());
  ByteReader::StoreU32(cert.data() + 4, static_cast<uint32_t>(expiry));
  ByteReader::StoreU32(cert.data() + 8, static_cast<uint32_t>(public_key_der.size()));
  std::copy(public_key_der.begin(), public_key_der.end(), cert.begin() + 12);

  // Signed: goal, expiry, key; the length fields are not.
  std::vector<uint8_t> message(cert.begin(), cert.begin() + 8);
  message.insert(message.end(), public_key_der.begin(), public_key_der.end());
  std::vector<uint8_t> signature;
  if (!root.Sign(SignatureScheme::kPssSha256, message.data(), message.size(), &signature, error))
    return {};
  uint8_t length[4];
  ByteReader::StoreU32(length, static_cast<uint32_t>(signature.size()));
  cert.insert(cert.end(), length, length + 4);
  cert.insert(cert.end(), signature.begin(), signature.end());
  return cert;
}

bool ParseExpiryDate(const std::string& text, int32_t* seconds) {
  int y = 0, m = 0, d = 0;
  char tail = 0;
  if (text.size() != 10 || text[4] != '-' || text[7] != '-' ||
      std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) != 3)
    return false;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (m < 1 || m > 12 || d < 1 || d > kDays[m - 1] + (m == 2 && leap ? 1 : 0)) return false;
  // Days from the civil date (proleptic Gregorian), era-based.
  const int yy = y - (m <= 2 ? 1 : 0);
  const int era = (yy >= 0 ? yy : yy - 399) / 400;
  const int yoe = yy - era * 400;
  const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t days = static_cast<int64_t>(era) * 146097 + doe - 719468;
  const int64_t total = days * 86400;
  if (total < INT32_MIN || total > INT32_MAX) return false;
  *seconds = static_cast<int32_t>(total);
  return true;
}
