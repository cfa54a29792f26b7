// Writes inner bundles: header, records of zlib chunks passed through the
// bundle key's scrambler, end marker, optional junk, then the tail (signature
// block, its length, "QXSG", SHA-1 of the plain record stream).
//
// The writer streams: bytes go to the sink as they are made, and the
// signature and digest are accumulated on the way. Pieces can be written in
// any order so that tests can build faulty bundles.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <cryptopp/rsa.h>

#include "bundle/descrambler.h"
#include "tools/packlib/private_key_signer.h"

namespace CryptoPP {
class SHA1;
}  // namespace CryptoPP

class InnerBundleWriter {
 public:
  // Receives every byte of the bundle in order; false stops the writer.
  using Sink = std::function<bool(const uint8_t* data, size_t n)>;

  static constexpr uint32_t kDefaultChunkSize = 1u << 20;

  // `signing_key` signs everything written before the signature block; the
  // writer keeps a reference. `key`: the descrambler table.
  InnerBundleWriter(Sink sink, const std::vector<uint8_t>& key,
                    const PrivateKeySigner& signing_key);
  // The same with a key in memory, which the writer copies.
  InnerBundleWriter(Sink sink, const std::vector<uint8_t>& key,
                    const CryptoPP::RSA::PrivateKey& signing_key);
  ~InnerBundleWriter();

  // Magic, version 1 and three values (by convention: record count, 0, 0).
  bool WriteHeader(uint32_t value1, uint32_t value2 = 0, uint32_t value3 = 0);
  // A whole record from memory, split into chunks of at most `chunk_size`.
  bool WriteRecord(const std::string& name, const uint8_t* data, size_t size,
                   uint32_t chunk_size = kDefaultChunkSize);
  // A record piece by piece: the name and chunk count, then each chunk.
  bool BeginRecord(const std::string& name, uint32_t chunk_count);
  // A chunk from its plain bytes (compressed here).
  bool WriteChunk(const uint8_t* plain, size_t size);
  // A chunk as given: any stored bytes and any recorded plain length.
  bool WriteRawChunk(uint32_t plain_length, const std::vector<uint8_t>& stored);
  // A scrambled little-endian u32 (the end marker is WriteU32(0)).
  bool WriteU32(uint32_t value);
  bool WriteEndMarker() { return WriteU32(0); }
  // Bytes written as they are (not scrambled, not in the digest) but signed,
  // as junk before the signature block is.
  bool WritePlain(const std::vector<uint8_t>& bytes);

  // The signature over every byte written so far. Ends the signed part: call
  // once, before the tail. Empty on failure, with the reason in `error` when given.
  std::vector<uint8_t> FinishSignature(std::string* error = nullptr);
  // SHA-1 of the plain record stream written so far.
  std::vector<uint8_t> Digest() const;
  // The tail: block, its length, the tag and a digest, all as given.
  bool WriteTail(const std::vector<uint8_t>& block, const char tag[4],
                 const std::vector<uint8_t>& digest);
  // The usual ending: signature block (fields 1 and 2 empty, field 3 the
  // signature, field 4 `certificate`), "QXSG" and the digest.
  bool WriteSignedTail(const std::vector<uint8_t>& certificate, std::string* error = nullptr);

  uint64_t offset() const { return offset_; }

 private:
  bool Emit(const uint8_t* data, size_t n);
  bool EmitScrambled(const uint8_t* plain, size_t n);

  Sink sink_;
  std::unique_ptr<PrivateKeySigner> owned_key_;
  Descrambler scrambler_;
  std::unique_ptr<CryptoPP::SHA1> sha1_;
  std::unique_ptr<SignatureAccumulator> signed_part_;
  uint64_t offset_ = 0;
  bool failed_ = false;
};

// The four length-prefixed fields of a signature block.
std::vector<uint8_t> EncodeSignatureBlock(const std::vector<uint8_t>& field1,
                                          const std::vector<uint8_t>& field2,
                                          const std::vector<uint8_t>& field3,
                                          const std::vector<uint8_t>& field4);

// One zlib stream of `data`, packed as tightly as the compressor can (the
// packer's host build: libdeflate at its highest level; Windows builds, which
// only make test fixtures: zlib's level 9); false on failure.
bool CompressChunk(const uint8_t* data, size_t size, std::vector<uint8_t>* stored);
