#include "tools/packlib/inner_bundle_writer.h"

#include <algorithm>

#include <cryptopp/sha.h>

#include "util/byte_reader.h"

namespace {
const uint8_t kMagic[12] = {'Q', 'X', 'B', 'U', 'N', 'D', 'L', 'E', '!', 0x0D, 0x0A, 0x00};
constexpr uint32_t kMaxNameLength = 255;

void AppendU32(std::vector<uint8_t>* out, uint32_t v) {
  uint8_t b[4];
  ByteReader::StoreU32(b, v);
  out->insert(out->end(), b, b + 4);
}
}  // namespace

std::vector<uint8_t> EncodeSignatureBlock(const std::vector<uint8_t>& field1,
                                          const std::vector<uint8_t>& field2,
                                          const std::vector<uint8_t>& field3,
                                          const std::vector<uint8_t>& field4) {
  std::vector<uint8_t> block;
  for (const auto* field : {&field1, &field2, &field3, &field4}) {
    AppendU32(&block, static_cast<uint32_t>(field->size()));
    block.insert(block.end(), field->begin(), field->end());
  }
  return block;
}

InnerBundleWriter::InnerBundleWriter(Sink sink, const std::vector<uint8_t>& key,
                                     const PrivateKeySigner& signing_key)
    : sink_(std::move(sink)),
      sha1_(std::make_unique<CryptoPP::SHA1>()),
      signed_part_(signing_key.Begin(SignatureScheme::kPssSha256)) {
  scrambler_.SetKey(key.data(), key.size());
}

InnerBundleWriter::InnerBundleWriter(Sink sink, const std::vector<uint8_t>& key,
                                     const CryptoPP::RSA::PrivateKey& signing_key)
    : sink_(std::move(sink)),
      owned_key_(std::make_unique<FileKeySigner>(signing_key)),
      sha1_(std::make_unique<CryptoPP::SHA1>()),
      signed_part_(owned_key_->Begin(SignatureScheme::kPssSha256)) {
  scrambler_.SetKey(key.data(), key.size());
}

InnerBundleWriter::~InnerBundleWriter() = default;

bool InnerBundleWriter::Emit(const uint8_t* data, size_t n) {
  if (failed_) return false;
  if (n == 0) return true;
  if (signed_part_) signed_part_->Update(data, n);
  if (!sink_(data, n)) failed_ = true;
  offset_ += n;
  return !failed_;
}

bool InnerBundleWriter::EmitScrambled(const uint8_t* plain, size_t n) {
  sha1_->Update(plain, n);
  std::vector<uint8_t> stored(plain, plain + n);
  scrambler_.Apply(stored.data(), n, offset_);
  return Emit(stored.data(), n);
}

bool InnerBundleWriter::WriteHeader(uint32_t value1, uint32_t value2, uint32_t value3) {
  std::vector<uint8_t> header(kMagic, kMagic + sizeof kMagic);
  header.push_back(1);
  AppendU32(&header, value1);
  AppendU32(&header, value2);
  AppendU32(&header, value3);
  return Emit(header.data(), header.size());
}

bool InnerBundleWriter::WriteU32(uint32_t value) {
  uint8_t b[4];
  ByteReader::StoreU32(b, value);
  return EmitScrambled(b, 4);
}

bool InnerBundleWriter::BeginRecord(const std::string& name, uint32_t chunk_count) {
  if (name.empty() || name.size() > kMaxNameLength) return false;
  return WriteU32(static_cast<uint32_t>(name.size())) &&
         EmitScrambled(reinterpret_cast<const uint8_t*>(name.data()), name.size()) &&
         WriteU32(chunk_count);
}

bool InnerBundleWriter::WriteRawChunk(uint32_t plain_length, const std::vector<uint8_t>& stored) {
  if (stored.size() > UINT32_MAX) return false;
  return WriteU32(static_cast<uint32_t>(stored.size())) && WriteU32(plain_length) &&
         EmitScrambled(stored.data(), stored.size());
}

bool InnerBundleWriter::WriteChunk(const uint8_t* plain, size_t size) {
  std::vector<uint8_t> stored;
  if (size > UINT32_MAX || !CompressChunk(plain, size, &stored)) return false;
  return WriteRawChunk(static_cast<uint32_t>(size), stored);
}

bool InnerBundleWriter::WriteRecord(const std::string& name, const uint8_t* data, size_t size,
                                    uint32_t chunk_size) {
  if (chunk_size == 0) return false;
  const uint64_t chunks = (static_cast<uint64_t>(size) + chunk_size - 1) / chunk_size;
  if (chunks > UINT32_MAX || !BeginRecord(name, static_cast<uint32_t>(chunks))) return false;
  for (size_t done = 0; done < size;) {
    const size_t step = std::min<size_t>(chunk_size, size - done);
    if (!WriteChunk(data + done, step)) return false;
    done += step;
  }
  return true;
}

bool InnerBundleWriter::WritePlain(const std::vector<uint8_t>& bytes) {
  return Emit(bytes.data(), bytes.size());
}

std::vector<uint8_t> InnerBundleWriter::FinishSignature(std::string* error) {
  std::string why;
  if (!error) error = &why;
  if (!signed_part_) {
    *error = "the signed part has already ended";
    return {};
  }
  std::vector<uint8_t> signature;
  const bool ok = signed_part_->Finish(&signature, error);
  signed_part_.reset();
  return ok ? signature : std::vector<uint8_t>();
}

std::vector<uint8_t> InnerBundleWriter::Digest() const {
  CryptoPP::SHA1 copy(*sha1_);
  std::vector<uint8_t> digest(CryptoPP::SHA1::DIGESTSIZE);
  copy.Final(digest.data());
  return digest;
}

bool InnerBundleWriter::WriteTail(const std::vector<uint8_t>& block, const char tag[4],
                                  const std::vector<uint8_t>& digest) {
  std::vector<uint8_t> tail(block);
  AppendU32(&tail, static_cast<uint32_t>(block.size()));
  tail.insert(tail.end(), tag, tag + 4);
  tail.insert(tail.end(), digest.begin(), digest.end());
  signed_part_.reset();  // the tail is never part of the signed message
  return Emit(tail.data(), tail.size());
}

bool InnerBundleWriter::WriteSignedTail(const std::vector<uint8_t>& certificate,
                                        std::string* error) {
  const std::vector<uint8_t> signature = FinishSignature(error);
  if (signature.empty()) return false;
  const std::vector<uint8_t> digest = Digest();
  return WriteTail(EncodeSignatureBlock({}, {}, signature, certificate), "QXSG", digest);
}
