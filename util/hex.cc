#include "util/hex.h"

namespace {
// Value of a hex digit, or -1.
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

void HexToBytes(uint8_t* output, const char* text, int32_t count) {
  if (!output || !text || count <= 0) return;
  for (int32_t i = 0; i < count; ++i) {
    const char h = text[2 * static_cast<int64_t>(i)];
    if (h == '\0') return;
    const int hv = HexValue(h);
    output[i] = static_cast<uint8_t>(hv >= 0 ? hv * 16 : 0);
    const char l = text[2 * static_cast<int64_t>(i) + 1];
    if (l == '\0') return;
    const int lv = HexValue(l);
    if (lv >= 0) output[i] = static_cast<uint8_t>(output[i] + lv);
  }
}
