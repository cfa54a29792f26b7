#include "util/text_format.h"

#include <cstdio>
#include <cstdlib>

void FormatTextV(char* out, size_t size, const char* format, va_list args) {
  if (size != 0) std::vsnprintf(out, size, format, args);
}

double TextToDouble(const char* text, char** end) { return std::strtod(text, end); }
