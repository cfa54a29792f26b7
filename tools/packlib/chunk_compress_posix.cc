#include <libdeflate.h>

#include <memory>

#include "tools/packlib/inner_bundle_writer.h"

// libdeflate's slowest level packs about 1.5 % tighter than zlib's level 9,
// still as a zlib stream for the stub's zlib to read; a release is packed
// once and downloaded many times.
bool CompressChunk(const uint8_t* data, size_t size, std::vector<uint8_t>* stored) {
  const std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> compressor(
      libdeflate_alloc_compressor(12), &libdeflate_free_compressor);
  if (!compressor) return false;
  stored->resize(libdeflate_zlib_compress_bound(compressor.get(), size));
  static const uint8_t kEmpty = 0;
  const size_t length = libdeflate_zlib_compress(compressor.get(), size ? data : &kEmpty, size,
                                                 stored->data(), stored->size());
  if (length == 0) return false;
  stored->resize(length);
  return true;
}
