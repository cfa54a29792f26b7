// Text from numbers and numbers from text through the C library.
//
// printf-style formatting into a fixed buffer: always terminated (when `size`
// is not 0), cut where it does not fit. On Windows this is msvcrt's formatter,
// which every Windows version has, instead of the runtime's C99 one (24 KB of
// the stub), so formats keep to what msvcrt knows: no "ll", "z", "j" or "t"
// sizes. QX_TEXT_FORMAT lets the compiler hold every format to that.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>

#if defined(__GNUC__) && defined(_WIN32)
#define QX_TEXT_FORMAT(fmt, args) __attribute__((format(ms_printf, fmt, args)))
#elif defined(__GNUC__)
#define QX_TEXT_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define QX_TEXT_FORMAT(fmt, args)
#endif

void FormatTextV(char* out, size_t size, const char* format, va_list args);
void FormatText(char* out, size_t size, const char* format, ...) QX_TEXT_FORMAT(3, 4);

// The decimal digits of `value`, with a '-' when negative: one small loop in
// place of the library's per-type conversions.
std::string DecimalText(int64_t value);

// strtod's contract in the "C" locale. On Windows, msvcrt's own, again in
// place of the runtime's larger one (25 KB of the stub).
double TextToDouble(const char* text, char** end);
