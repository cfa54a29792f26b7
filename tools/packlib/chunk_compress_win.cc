#include <zlib.h>

#include "tools/packlib/inner_bundle_writer.h"

bool CompressChunk(const uint8_t* data, size_t size, std::vector<uint8_t>* stored) {
  uLongf length = compressBound(static_cast<uLong>(size));
  stored->resize(length);
  static const uint8_t kEmpty = 0;
  if (compress2(stored->data(), &length, size ? data : &kEmpty, static_cast<uLong>(size),
                Z_BEST_COMPRESSION) != Z_OK)
    return false;
  stored->resize(length);
  return true;
}
