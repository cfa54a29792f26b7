// Validation of an inner bundle while it is opened: the signature block at the
// end, the key certificate inside it, the signature over every byte before
// the block, and the record index, all in one sequential pass.
#include <algorithm>
#include <cstring>
#include <exception>
#include <string>

#include <cryptopp/rsa.h>
#include <cryptopp/sha.h>

#include "bundle/bundle_file.h"
#include "diagnostics/trace.h"
#include "integrity/key_certificate.h"
#include "integrity/pss_verifier.h"
#include "integrity/signed_range_hasher.h"
#include "util/byte_reader.h"

namespace {
constexpr uint32_t kMaxSignatureBlock = 8192;
constexpr uint32_t kTailSize = 28;  // block length, tag, digest
constexpr uint32_t kDigestSize = 20;
const char kSignatureTag[4] = {'Q', 'X', 'S', 'G'};
}  // namespace

bool BundleFile::ValidateBundleSignature() {
  // Whatever way this ends, no verifier and no read limit outlive it.
  struct Cleanup {
    BundleFile* self;
    ~Cleanup() {
      self->verifier_.reset();
      self->read_limit_ = -1;
      self->verify_inline_ = true;
    }
  } cleanup{this};

  DebugTrace("Validating checksum");
  if (!file_.SeekToEnd()) return false;
  const int64_t size = file_.Tell();
  uint8_t stored_digest[kDigestSize];
  if (size < static_cast<int64_t>(kHeaderSize) || !file_.Seek(size - kDigestSize) ||
      file_.Read(stored_digest, kDigestSize) != kDigestSize)
    return false;

  bool valid = true;
  uint8_t tag[4];
  if (!file_.Seek(size - 24) || file_.Read(tag, 4) != 4) return false;
  if (std::memcmp(tag, kSignatureTag, 4) != 0) {
    DebugTrace("Bundle is not digitally signed.");
    return false;
  }

  DebugTrace("Going to read signature");
  uint8_t length_bytes[4];
  if (!file_.Seek(size - kTailSize) || file_.Read(length_bytes, 4) != 4) return false;
  const uint32_t block_length = ByteReader::LoadU32(length_bytes);
  if (block_length > kMaxSignatureBlock) return false;
  // The block and the tail must leave the header whole.
  if (static_cast<uint64_t>(size) < uint64_t{kHeaderSize} + kTailSize + block_length) return false;
  const int64_t block_start = size - kTailSize - block_length;
  uint8_t block[kMaxSignatureBlock];
  if (!file_.Seek(block_start) || file_.Read(block, block_length) != block_length) return false;

  // Four length-prefixed fields that fill the block exactly.
  const ByteReader fields(block, block_length);
  const uint8_t* field[4];
  int32_t field_length[4];
  uint64_t offset = 0;
  for (int i = 0; i < 4; ++i) {
    if (!fields.I32(offset, &field_length[i]) || field_length[i] < 0 ||
        !fields.Contains(offset + 4, static_cast<uint64_t>(field_length[i])))
      return false;
    field[i] = block + offset + 4;
    offset += 4 + static_cast<uint64_t>(field_length[i]);
  }
  if (offset != block_length) return false;

  std::unique_ptr<CryptoPP::RSAFunction> key =
      CheckKeyCertificate(field[3], field_length[3], expected_goal_);
  if (key) {
    try {
      verifier_ = std::make_unique<PssVerifierFilter>(*key);
    } catch (...) {
      key.reset();  // a key the scheme cannot use counts as a refused one
    }
  }
  if (!verifier_) {
    DebugTrace("Invalid public key inside bundle");
    valid = false;
  }

  uint8_t header[kHeaderSize];
  if (!file_.Seek(0) || file_.Read(header, kHeaderSize) != kHeaderSize) return false;

  // The signature covers [0, block_start) whatever the walk below finds, so
  // a second thread hashes that range while this one walks the records;
  // without a second handle or thread, the walk feeds the verifier itself.
  // Declared after `cleanup`: the thread is stopped before the verifier goes.
  SignedRangeHasher background;
  verify_inline_ = !(verifier_ && background.Start(verifier_.get(), path_, block_start));

  try {
    if (verifier_ && verify_inline_) verifier_->Put(header, kHeaderSize);
    DebugTrace("Going to read checksum");
    if (!file_.Seek(kHeaderSize)) return false;

    // The record list must end before the signature block.
    read_limit_ = block_start;
    for (;;) {
      uint8_t name_length_bytes[4];
      if (ReadDescrambled(name_length_bytes, 4, 1, true, false) != 1) {
        DebugTrace("%s", "Reading file for checksum failed!\n");
        return false;
      }
      const uint32_t name_length = ByteReader::LoadU32(name_length_bytes);
      if (name_length == 0 || name_length > kMaxNameLength) break;
      char name[kMaxNameLength + 1] = {};
      if (ReadDescrambled(name, 1, name_length, true, false) != name_length ||
          !IndexRecord(name, verifier_ != nullptr)) {
        DebugTrace("%s", "Reading file for checksum failed!\n");
        return false;
      }
    }
    read_limit_ = -1;
    DebugTrace("Iterate done");

    if (verifier_) {
      int64_t junk = block_start - file_.Tell();
      uint8_t piece[kMaxSignatureBlock];
      while (junk > 0) {
        DebugTrace("Junk len %d", static_cast<int>(std::min<int64_t>(junk, INT32_MAX)));
        const size_t step = static_cast<size_t>(std::min<int64_t>(junk, sizeof piece));
        if (file_.Read(piece, step) != step) {
          DebugTrace("Junk read fail");
          return false;
        }
        if (verify_inline_) verifier_->Put(piece, step);
        junk -= static_cast<int64_t>(step);
      }
      DebugTrace("Junk read done");
      std::string what;
      const SignedRangeHasher::Result fed =
          verify_inline_ ? SignedRangeHasher::Result::kFed : background.Finish(&what);
      if (fed == SignedRangeHasher::Result::kReadFailed) {
        DebugTrace("%s", "Reading file for checksum failed!\n");
        return false;
      }
      if (fed == SignedRangeHasher::Result::kThrew) {
        // As if the verifier had thrown here.
        if (what.empty())
          DebugTrace("Exception in validate sign");
        else
          DebugTrace("Exception in validate sign: %s", what.c_str());
        valid = false;
      } else {
        verifier_->Put(field[2], static_cast<size_t>(field_length[2]));
        verifier_->End();
        valid = true;
      }
    }
  } catch (const std::exception& e) {
    DebugTrace("Exception in validate sign: %s", e.what());
    valid = false;
  } catch (...) {
    DebugTrace("Exception in validate sign");
    valid = false;
  }
  // A walk that threw left the hashing thread feeding the verifier: it stops
  // before the verifier goes.
  background.Stop();

  const bool had_verifier = verifier_ != nullptr;
  verifier_.reset();
  key.reset();
  if (!valid) DebugTrace("Digital signature is invalid!");
  // With a signature checked, the digest is not needed (chunk data was not
  // hashed); without one it is compared only to report it: valid is false.
  if (had_verifier) return valid;

  uint8_t computed[kDigestSize];
  FinishDigest(computed);
  if (std::memcmp(computed, stored_digest, kDigestSize) == 0) return valid;
  DebugTrace("Digest compare fail\n");
  for (unsigned i = 0; i < kDigestSize; ++i)
    DebugTrace("%02d: read %02X calc %02X\n", i, stored_digest[i], computed[i]);
  return false;
}

bool BundleFile::IndexRecord(const std::string& name, bool verifying) {
  if (index_.size() >= kMaxIndexedRecords) return false;
  RecordIndexEntry entry;
  entry.name = name;
  // With a verifier installed, chunk data goes to the signature only.
  if (!ReadChunkList(&entry, /*validating=*/true, /*skip_data=*/verifying)) return false;
  index_.push_back(std::move(entry));
  return true;
}
