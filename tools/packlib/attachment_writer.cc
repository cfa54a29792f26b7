#include "tools/packlib/attachment_writer.h"

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/md5.h>

#include <cstring>

#include "util/byte_reader.h"

namespace {

const char kMagic[4] = {'A', 'B', 'D', '2'};

void Md5(const uint8_t* data, size_t size, uint8_t out[16]) {
  CryptoPP::Weak1::MD5 md5;
  static_assert(CryptoPP::Weak1::MD5::DIGESTSIZE == kDigestSize, "MD5 digest size");
  md5.CalculateDigest(out, data, size);
}

// Masks `size` plain bytes into `out` and writes the trailer right after them.
void StoreAttachment(uint8_t* out, const std::string& type, const uint8_t* data,
                     size_t size) {
  for (size_t i = 0; i < size; ++i) out[i] = data[i] ^ kAttachmentMask;
  uint8_t* trailer = out + size;
  Md5(data, size, trailer);
  ByteReader::StoreU32(trailer + kTrailerSizeField, static_cast<uint32_t>(size));
  std::memcpy(trailer + kTrailerTypeField, type.data(), 4);
  std::memcpy(trailer + kTrailerMagicField, kMagic, 4);
}

}  // namespace

bool AppendAttachment(std::vector<uint8_t>* chain, const std::string& type,
                      const uint8_t* data, size_t size) {
  if (chain == nullptr || type.size() != 4) return false;
  if (size != static_cast<uint32_t>(size)) return false;  // the size field is 32-bit
  if (size > 0 && data == nullptr) return false;
  const size_t start = chain->size();
  chain->resize(start + size + kTrailerSize);
  StoreAttachment(chain->data() + start, type, data, size);
  return true;
}

bool AppendAttachment(std::vector<uint8_t>* chain, const std::string& type,
                      const std::string& data) {
  return AppendAttachment(chain, type, reinterpret_cast<const uint8_t*>(data.data()),
                          data.size());
}

bool RewriteAttachmentData(std::vector<uint8_t>* buffer, uint64_t dataOffset,
                           const std::string& data) {
  if (buffer == nullptr) return false;
  const ByteReader reader(buffer->data(), buffer->size());
  const uint64_t trailerOffset = dataOffset + data.size();
  uint32_t storedSize = 0;
  if (dataOffset > buffer->size() ||
      !reader.Contains(trailerOffset, kTrailerSize) ||
      !reader.U32(trailerOffset + kTrailerSizeField, &storedSize) || storedSize != data.size() ||
      !reader.Equals(trailerOffset + kTrailerMagicField, kMagic, 4)) {
    return false;
  }
  std::string type(reinterpret_cast<const char*>(buffer->data() + trailerOffset + kTrailerTypeField), 4);
  StoreAttachment(buffer->data() + dataOffset, type,
                  reinterpret_cast<const uint8_t*>(data.data()), data.size());
  return true;
}
