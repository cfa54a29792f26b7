#include "util/text_format.h"

std::string DecimalText(int64_t value) {
  // In unsigned arithmetic, so that the most negative value negates too.
  uint64_t magnitude = value < 0 ? ~static_cast<uint64_t>(value) + 1 : static_cast<uint64_t>(value);
  char digits[20];
  size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  std::string text(value < 0 ? 1 : 0, '-');
  while (n != 0) text += digits[--n];
  return text;
}

void FormatText(char* out, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  FormatTextV(out, size, format, args);
  va_end(args);
}
