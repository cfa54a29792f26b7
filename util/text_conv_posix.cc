// Host builds: wchar_t holds UTF-32 code points. The rules mirror the Windows
// side: stop at the first NUL unless wholeLength, replace ill-formed input
// with U+FFFD, empty result only for empty input.
#include "util/text_conv.h"

#include <cstdint>

namespace {

constexpr uint32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, uint32_t cp) {
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = kReplacement;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes one UTF-8 sequence at s[i]; advances i past it (by one byte on error).
uint32_t DecodeUtf8(const std::string& s, size_t& i) {
  const uint8_t b0 = static_cast<uint8_t>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int len;
  uint32_t cp, min;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2; cp = b0 & 0x1F; min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3; cp = b0 & 0x0F; min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4; cp = b0 & 0x07; min = 0x10000;
  } else {
    ++i;
    return kReplacement;
  }
  if (i + len > s.size()) {
    ++i;
    return kReplacement;
  }
  for (int k = 1; k < len; ++k) {
    const uint8_t b = static_cast<uint8_t>(s[i + k]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return kReplacement;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return kReplacement;
  }
  i += len;
  return cp;
}

}  // namespace

std::string WideToMultiByte(const std::wstring& input, bool wholeLength) {
  std::string out;
  out.reserve(input.size() * 3 + 20);
  for (wchar_t wc : input) {
    if (wc == L'\0' && !wholeLength) break;
    AppendUtf8(out, static_cast<uint32_t>(wc));
  }
  return out;
}

std::wstring MultiByteToWide(const std::string& input, bool wholeLength) {
  std::wstring out;
  out.reserve(input.size());
  size_t i = 0;
  while (i < input.size()) {
    if (input[i] == '\0' && !wholeLength) break;
    out += static_cast<wchar_t>(DecodeUtf8(input, i));
  }
  return out;
}
