#include "util/text_format.h"

#include <stdio.h>

#include "util/system_function_win.h"

void FormatTextV(char* out, size_t size, const char* format, va_list args) {
  if (size == 0) return;
  // msvcrt's _vsnprintf leaves the buffer unterminated when the text fills it.
  _vsnprintf(out, size - 1, format, args);
  out[size - 1] = '\0';
}

double TextToDouble(const char* text, char** end) {
  // Looked up, because the runtime's headers name its own strtod in C++.
  using Strtod = double(__cdecl*)(const char*, char**);
  static const Strtod msvcrtStrtod = SystemFunction<Strtod>(L"msvcrt.dll", "strtod");
  if (!msvcrtStrtod) {
    *end = const_cast<char*>(text);
    return 0.0;
  }
  return msvcrtStrtod(text, end);
}
