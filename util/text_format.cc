#include "util/text_format.h"

void FormatText(char* out, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  FormatTextV(out, size, format, args);
  va_end(args);
}
