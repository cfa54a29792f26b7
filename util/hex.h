// Decodes up to `count` bytes from pairs of hex digits in `text` into `output`.
// Never fails: non-hex characters decode as 0, a NUL stops the decoding and
// leaves the rest of `output` untouched; null pointers or count <= 0 do nothing.
#pragma once

#include <cstdint>

void HexToBytes(uint8_t* output, const char* text, int32_t count);
