#include "bundle/bundle_file.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>

#include <cryptopp/sha.h>

#include "bundle/chunk_prefetch.h"
#include "diagnostics/trace.h"
#include "integrity/builtin_keys.h"
#include "integrity/pss_verifier.h"
#include "util/byte_reader.h"
#include "util/text_conv.h"

namespace {
const uint8_t kMagic[12] = {'Q', 'X', 'B', 'U', 'N', 'D', 'L', 'E', '!', 0x0D, 0x0A, 0x00};
constexpr uint8_t kVersion = 1;
// Passing over chunk data needs no more than this at a time.
constexpr size_t kPassOverPiece = 4096;
// A chunk list is read in blocks of this size.
constexpr size_t kListBlock = 4096;

// A chunk header whose stored and plain lengths are both 0.
inline bool IsEmptyChunk(const uint8_t* header) {
  uint64_t lengths;
  std::memcpy(&lengths, header, sizeof lengths);
  return lengths == 0;
}

// The descrambler states inside a block, found by Skip from the last state
// known there (asked for at offsets that only grow). Skip changes the state
// exactly as Apply does and reads only bit 0 of each byte, which the map
// keeps, so it may run over the block after descrambling.
class BlockStates {
 public:
  BlockStates(const uint8_t* block, const DescramblerState& start) : block_(block), state_(start) {}

  DescramblerState At(size_t offset, Descrambler* descrambler) {
    descrambler->set_state(state_);
    descrambler->Skip(block_ + known_, offset - known_);
    state_ = descrambler->state();
    known_ = offset;
    return state_;
  }

 private:
  const uint8_t* block_;
  DescramblerState state_;  // at offset known_
  size_t known_ = 0;
};
}  // namespace

BundleFile::BundleFile() : sha1_(std::make_unique<CryptoPP::SHA1>()) {
  SetKey(ActiveTrustedKeys().table, ActiveTrustedKeys().table_size);
}

struct BundleFile::Plan {
  std::deque<const RecordIndexEntry*> records;
  std::unique_ptr<ChunkPrefetch> chunks;
};

BundleFile::~BundleFile() { Close(); }

void BundleFile::SetKey(const uint8_t* key, size_t length) { descrambler_.SetKey(key, length); }

void BundleFile::Reset() {
  plan_.reset();
  handles_.clear();
  index_.clear();
  file_.Close();
  open_ = false;
  read_limit_ = -1;
}

bool BundleFile::Open(const std::wstring& path, bool skip_validation) {
  if (open_) Close();
  Reset();
  descrambler_.Reset();

  if (!file_.Open(path, FileAccess::kReadDenyWrite)) {
    DebugTrace("Couldn't open file %s!\n", WideToMultiByte(path).c_str());
    return false;
  }
  uint8_t header[kHeaderSize];
  if (file_.Read(header, sizeof header) != sizeof header ||
      std::memcmp(header, kMagic, sizeof kMagic) != 0 || header[12] != kVersion) {
    file_.Close();
    return false;
  }
  for (int i = 0; i < 3; ++i) header_values_[i] = ByteReader::LoadU32(header + 13 + 4 * i);

  sha1_->Restart();
  sha1_pending_.clear();
  path_ = path;  // validation hashes through a second handle on it
  if (!skip_validation && !ValidateBundleSignature()) {
    DebugTrace("%s", "Invalid SHA1 encountered!\n");
    Reset();
    return false;
  }
  open_ = true;
  path_ = path;
  Rewind();
  return true;
}

bool BundleFile::Close() {
  if (!open_) return false;
  while (!handles_.empty()) CloseRecord(handles_.back().get());
  Reset();
  return true;
}

bool BundleFile::Rewind() {
  if (!open_ || !file_.Seek(kHeaderSize)) return false;
  descrambler_.Reset();
  return true;
}

size_t BundleFile::ReadDescrambled(void* destination, size_t element_size, size_t count,
                                   bool verify, bool skip) {
  if (element_size == 0 || count == 0 || count > SIZE_MAX / element_size) return 0;
  size_t want = element_size * count;
  const int64_t at = file_.Tell();
  if (at < 0) return 0;
  if (read_limit_ >= 0) {
    const uint64_t room = at < read_limit_ ? static_cast<uint64_t>(read_limit_ - at) : 0;
    if (want > room) want = static_cast<size_t>(room);
  }
  uint8_t* bytes = static_cast<uint8_t*>(destination);
  const size_t got = want ? file_.Read(bytes, want) : 0;
  if (verify && verifier_ && verify_inline_) verifier_->Put(bytes, got);
  if (skip) {
    descrambler_.Skip(bytes, got);
  } else {
    descrambler_.Apply(bytes, got, static_cast<uint64_t>(at));
    if (verify) DigestPlain(bytes, got);
  }
  return got / element_size;
}

void BundleFile::DigestPlain(const uint8_t* bytes, size_t n) {
  constexpr size_t kPending = 4096;
  if (sha1_pending_.size() + n > kPending) {
    sha1_->Update(sha1_pending_.data(), sha1_pending_.size());
    sha1_pending_.clear();
  }
  if (n >= kPending)
    sha1_->Update(bytes, n);
  else
    sha1_pending_.insert(sha1_pending_.end(), bytes, bytes + n);
}

void BundleFile::FinishDigest(uint8_t* digest) {
  sha1_->Update(sha1_pending_.data(), sha1_pending_.size());
  sha1_pending_.clear();
  sha1_->Final(digest);
}

bool BundleFile::ReadU32(uint32_t* value) {
  uint8_t b[4];
  if (ReadDescrambled(b, 4, 1, false, false) != 1) return false;
  *value = ByteReader::LoadU32(b);
  return true;
}

bool BundleFile::PassOver(uint64_t n, bool verify, bool skip) {
  uint8_t piece[kPassOverPiece];
  while (n > 0) {
    const size_t step = static_cast<size_t>(std::min<uint64_t>(n, sizeof piece));
    if (ReadDescrambled(piece, 1, step, verify, skip) != step) return false;
    n -= step;
  }
  return true;
}

bool BundleFile::ReadChunkList(RecordIndexEntry* entry, bool validating, bool skip_data) {
  // A list may hold millions of 8-byte chunk headers, so it is read a block
  // at a time: each block is read and descrambled once, and the verifier and
  // the digest take its bytes in long runs. Whatever way the walk ends, the
  // file position, the descrambler state and the bytes given to the verifier
  // and the digest are those of a walk that read field by field.
  const bool feed_verifier = validating && verifier_ && verify_inline_;
  uint8_t plain[kListBlock];   // descrambled in place: the fields and the digest
  uint8_t stored[kListBlock];  // the block as read, for the verifier only
  uint32_t count = 0;
  bool have_count = false;
  uint32_t listed = 0;
  for (;;) {
    if (have_count && listed == count) return true;
    const int64_t start = file_.Tell();
    if (start < 0) return false;
    size_t want = kListBlock;
    if (read_limit_ >= 0) {
      const uint64_t room = start < read_limit_ ? static_cast<uint64_t>(read_limit_ - start) : 0;
      if (want > room) want = static_cast<size_t>(room);
    }
    const size_t got = want ? file_.Read(plain, want) : 0;
    // A short block ends at the read limit or the file's end: nothing follows.
    const bool last = got < kListBlock;
    if (feed_verifier) std::memcpy(stored, plain, got);
    BlockStates states(plain, descrambler_.state());
    descrambler_.Apply(plain, got, static_cast<uint64_t>(start));
    const DescramblerState end_state = descrambler_.state();

    size_t used = 0;         // bytes of the block walked so far
    size_t digest_from = 0;  // plain bytes before this are digested or left out
    uint64_t carry = 0;      // data of the last chunk that lies past the block
    bool ended = false;      // the walk ends in this block
    bool ok = true;
    for (;;) {
      const size_t field = have_count ? 8 : 4;
      if (have_count) {
        // Empty chunks (both lengths 0) need nothing but counting.
        while (listed < count && got - used >= 8 && IsEmptyChunk(plain + used)) {
          used += 8;
          ++listed;
        }
        if (listed == count) {
          ended = true;
          break;
        }
      }
      if (got - used < field) {
        if (!last) break;  // the field continues in the next block
        used = got;        // the list ends inside this field
        ended = true;
        ok = false;
        break;
      }
      const uint8_t* at = plain + used;
      used += field;
      if (!have_count) {
        count = ByteReader::LoadU32(at);
        have_count = true;
        continue;
      }
      ++listed;
      ChunkEntry chunk;
      chunk.stored_length = ByteReader::LoadU32(at);
      chunk.plain_length = ByteReader::LoadU32(at + 4);
      if ((validating && !ChunkWithinLimits(chunk.stored_length, chunk.plain_length)) ||
          (chunk.plain_length > 0 && chunk.stored_length < kMinStoredContentChunk)) {
        ended = true;
        ok = false;
        break;
      }
      if (chunk.plain_length > 0) {
        chunk.offset = static_cast<uint64_t>(start) + used;
        chunk.state = states.At(used, &descrambler_);
        entry->chunks.push_back(chunk);
        entry->plain_size += chunk.plain_length;
      }
      const size_t here = static_cast<size_t>(std::min<uint64_t>(chunk.stored_length, got - used));
      if (skip_data && validating && here > 0) {
        // Chunk data is left out of the digest.
        DigestPlain(plain + digest_from, used - digest_from);
        digest_from = used + here;
      }
      used += here;
      carry = chunk.stored_length - here;
      if (carry > 0) break;  // the rest of the data is passed over below
    }

    // Leave the file and the descrambler where the walk stands.
    if (feed_verifier && used > 0) verifier_->Put(stored, used);
    if (validating && used > digest_from) DigestPlain(plain + digest_from, used - digest_from);
    file_.Seek(start + static_cast<int64_t>(used));
    descrambler_.set_state(used == got ? end_state : states.At(used, &descrambler_));
    if (ended) return ok;
    if (carry > 0 && !PassOver(carry, validating, skip_data)) return false;
  }
}

bool BundleFile::ReadNextName(std::string* name) {
  if (!open_) return false;
  uint32_t length = 0;
  if (!ReadU32(&length) || length == 0 || length > kMaxNameLength) {
    Rewind();
    return false;
  }
  char buffer[kMaxNameLength + 1] = {};
  if (ReadDescrambled(buffer, 1, length, false, false) != length) return false;
  name->assign(buffer);  // a name ends at its first NUL byte
  return true;
}

bool BundleFile::SkipRecord() {
  if (!open_) return false;
  uint32_t count = 0;
  if (!ReadU32(&count)) return false;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t stored = 0, plain = 0;
    if (!ReadU32(&stored) || !ReadU32(&plain) || !PassOver(stored, false, true)) return false;
  }
  return true;
}

bool BundleFile::IsOurHandle(const RecordHandle* handle) const {
  if (!handle) return false;
  for (const auto& h : handles_)
    if (h.get() == handle) return true;
  return false;
}

bool BundleFile::ScanToRecord(const std::string& name) {
  if (!Rewind()) return false;
  std::string current;
  while (ReadNextName(&current)) {
    if (current == name) return true;
    if (!SkipRecord()) return false;
  }
  return false;
}

RecordHandle* BundleFile::FindRecord(const std::string& name) {
  if (!open_ || name.empty() || handles_.size() >= kMaxOpenHandles) return nullptr;
  auto handle = std::make_unique<RecordHandle>();
  handle->saved_offset_ = file_.Tell();
  handle->saved_state_ = descrambler_.state();

  const RecordIndexEntry* indexed = nullptr;
  for (const auto& entry : index_) {
    if (entry.name == name) {
      indexed = &entry;
      break;
    }
  }
  if (indexed) {
    handle->chunks_ = indexed->chunks;
    handle->plain_size_ = indexed->plain_size;
  } else {
    if (!ScanToRecord(name)) {
      Rewind();
      return nullptr;
    }
    // A list that ends early leaves the handle with the chunks read so far.
    RecordIndexEntry found;
    ReadChunkList(&found, /*validating=*/false, /*skip_data=*/true);
    handle->chunks_ = std::move(found.chunks);
    handle->plain_size_ = found.plain_size;
  }
  uint64_t start = 0;
  for (const ChunkEntry& chunk : handle->chunks_) {
    handle->chunk_starts_.push_back(start);
    start += chunk.plain_length;
  }
  handles_.push_back(std::move(handle));
  return handles_.back().get();
}

bool BundleFile::ChunkWithinLimits(uint32_t stored, uint32_t plain) const {
  // zlib's compress bound of the largest chunk allowed.
  const uint64_t m = max_chunk_size_;
  const uint64_t bound = m + m / 4096 + m / 16384 + m / 33554432 + 13;
  return plain <= m && stored <= bound;
}

BundleFile::ChunkLoad BundleFile::InflateAtPosition(uint32_t stored_length, uint32_t plain_length,
                                                    const uint8_t** plain) {
  *plain = nullptr;
  uint8_t* stored = stored_.Reserve(stored_length);
  if (!stored || ReadDescrambled(stored, 1, stored_length, false, false) != stored_length)
    return ChunkLoad::kReadFailed;
  *plain = inflater_.Inflate(stored, stored_length, plain_length);
  return *plain ? ChunkLoad::kOk : ChunkLoad::kInflateFailed;
}

BundleFile::ChunkLoad BundleFile::LoadChunk(const ChunkEntry& chunk, std::vector<uint8_t>* plain) {
  // Lengths found by a scan of an unvalidated bundle were never checked.
  if (!ChunkWithinLimits(chunk.stored_length, 0)) return ChunkLoad::kReadFailed;
  if (!ChunkWithinLimits(0, chunk.plain_length)) return ChunkLoad::kInflateFailed;
  if (!file_.Seek(static_cast<int64_t>(chunk.offset))) return ChunkLoad::kReadFailed;
  descrambler_.set_state(chunk.state);
  const uint8_t* out = nullptr;
  const ChunkLoad loaded = InflateAtPosition(chunk.stored_length, chunk.plain_length, &out);
  if (loaded != ChunkLoad::kOk) return loaded;
  try {
    plain->assign(out, out + chunk.plain_length);
  } catch (const std::bad_alloc&) {
    return ChunkLoad::kReadFailed;
  }
  return ChunkLoad::kOk;
}

size_t BundleFile::ReadRecord(RecordHandle* handle, void* destination, size_t element_size,
                              size_t count) {
  if (!open_ || !IsOurHandle(handle) || element_size == 0) return 0;
  uint64_t request = count > SIZE_MAX / element_size ? SIZE_MAX : element_size * count;
  request = std::min(request, handle->plain_size_ - handle->position_);
  if (request < 1) return 0;

  uint8_t* out = static_cast<uint8_t*>(destination);
  uint64_t left = request;
  while (left > 0) {
    const uint64_t pos = handle->position_;
    const auto& starts = handle->chunk_starts_;
    const size_t number =
        static_cast<size_t>(std::upper_bound(starts.begin(), starts.end(), pos) - starts.begin());
    if (number == 0 || pos >= starts[number - 1] + handle->chunks_[number - 1].plain_length) {
      DebugTrace("?!");
      return 0;
    }
    const size_t index = number - 1;
    auto cached = std::find_if(handle->cache_.begin(), handle->cache_.end(),
                               [index](const RecordHandle::CachedChunk& c) { return c.number == index; });
    if (cached == handle->cache_.end()) {
      while (handle->cache_.size() >= kChunkCacheEntries) handle->cache_.pop_front();
      RecordHandle::CachedChunk entry{index, {}};
      switch (LoadChunk(handle->chunks_[index], &entry.plain)) {
        case ChunkLoad::kOk:
          break;
        case ChunkLoad::kReadFailed:
          DebugTrace("?!!");
          return 0;
        case ChunkLoad::kInflateFailed:
          DebugTrace("?!!!");
          return 0;
      }
      handle->cache_.push_back(std::move(entry));
      cached = handle->cache_.end() - 1;
    }
    const uint64_t within = pos - starts[index];
    const uint64_t step = std::min<uint64_t>(left, cached->plain.size() - within);
    std::memcpy(out, cached->plain.data() + within, static_cast<size_t>(step));
    out += step;
    left -= step;
    handle->position_ += step;
  }
  return static_cast<size_t>(request / element_size);
}

char* BundleFile::ReadLine(char* destination, size_t capacity, RecordHandle* handle) {
  if (!open_ || !IsOurHandle(handle) || capacity == 0 || destination == nullptr) return nullptr;
  // At the end there is no line, not even an empty one: a caller's loop that
  // waits for nothing must end whatever capacity it passes.
  if (handle->position_ >= handle->plain_size_) return nullptr;
  const size_t limit = capacity - 1;

  // Fast path: the line lies within a chunk that is already decoded.
  const uint64_t pos = handle->position_;
  const auto& starts = handle->chunk_starts_;
  const size_t number =
      static_cast<size_t>(std::upper_bound(starts.begin(), starts.end(), pos) - starts.begin());
  if (number > 0 && pos < handle->plain_size_) {
    const size_t index = number - 1;
    for (const auto& cached : handle->cache_) {
      if (cached.number != index || pos - starts[index] >= cached.plain.size()) continue;
      const uint8_t* p = cached.plain.data() + (pos - starts[index]);
      const size_t available = static_cast<size_t>(cached.plain.size() - (pos - starts[index]));
      size_t stored = 0, used = 0;
      bool complete = false;
      while (!complete && used < available) {
        if (stored == limit) break;
        const char c = static_cast<char>(p[used++]);
        if (c == '\r') continue;
        destination[stored++] = c;
        complete = c == '\n';
      }
      if (complete || stored == limit) {
        destination[stored] = '\0';
        handle->position_ += used;
        return destination;
      }
      break;  // the line runs past this chunk
    }
  }

  // Slow path: one byte at a time across chunk boundaries.
  size_t stored = 0;
  bool first = true;
  while (stored < limit) {
    char c;
    if (ReadRecord(handle, &c, 1, 1) != 1) {
      if (first) return nullptr;
      break;
    }
    first = false;
    if (c == '\r') continue;
    destination[stored++] = c;
    if (c == '\n') break;
  }
  destination[stored] = '\0';
  return destination;
}

void BundleFile::CloseRecord(RecordHandle* handle) {
  for (auto it = handles_.begin(); it != handles_.end(); ++it) {
    if (it->get() != handle) continue;
    file_.Seek(handle->saved_offset_);
    descrambler_.set_state(handle->saved_state_);
    handles_.erase(it);
    return;
  }
}

void BundleFile::PlanExtraction(const std::vector<std::string>& names) {
  plan_.reset();
  if (!open_) return;
  auto plan = std::make_unique<Plan>();
  std::vector<ChunkEntry> chunks;
  for (const std::string& name : names) {
    const auto entry = std::find_if(index_.begin(), index_.end(),
                                    [&name](const RecordIndexEntry& e) { return e.name == name; });
    if (entry == index_.end()) break;
    plan->records.push_back(&*entry);
    chunks.insert(chunks.end(), entry->chunks.begin(), entry->chunks.end());
  }
  plan->chunks = std::make_unique<ChunkPrefetch>(path_, descrambler_, std::move(chunks));
  if (plan->chunks->ok()) plan_ = std::move(plan);
}

ChunkPrefetch* BundleFile::TakePlanned(const RecordIndexEntry* entry) {
  if (!plan_ || plan_->records.empty() || plan_->records.front() != entry) {
    plan_.reset();
    return nullptr;
  }
  plan_->records.pop_front();
  return plan_->chunks.get();
}

bool BundleFile::ExtractRecord(const std::wstring& destination, const std::string& name) {
  if (!open_) return false;
  // Validation indexed every chunk with its offset and descrambler state, so
  // an indexed record is read directly instead of walking all records before
  // it (which made extracting n records read the bundle n/2 times).
  const auto indexed = std::find_if(index_.begin(), index_.end(),
                                    [&name](const RecordIndexEntry& e) { return e.name == name; });
  const bool direct = indexed != index_.end();
  ChunkPrefetch* planned = TakePlanned(direct ? &*indexed : nullptr);
  if (!direct && !ScanToRecord(name)) return false;

  File out;
  if (!out.Open(destination, FileAccess::kCreate)) {
    plan_.reset();  // this record's chunks stay unread
    return false;
  }
  bool ok = true;
  uint32_t count = 0;
  if (direct)
    count = static_cast<uint32_t>(indexed->chunks.size());
  else if (!ReadU32(&count))
    ok = false;
  for (uint32_t i = 0; ok && i < count; ++i) {
    uint32_t stored_length = 0, plain_length = 0;
    if (direct) {
      const ChunkEntry& chunk = indexed->chunks[i];
      stored_length = chunk.stored_length;
      plain_length = chunk.plain_length;
      if (!planned) {
        if (!file_.Seek(static_cast<int64_t>(chunk.offset))) ok = false;
        descrambler_.set_state(chunk.state);
      }
    } else if (!ReadU32(&stored_length) || !ReadU32(&plain_length)) {
      ok = false;
    }
    if (!ok || !ChunkWithinLimits(stored_length, plain_length)) {
      ok = false;
      break;
    }
    // An empty chunk adds nothing, as when the record is read: its stored
    // bytes are passed over without being inflated. Only a scanned record
    // lists them.
    if (plain_length == 0) {
      ok = PassOver(stored_length, false, true);
      continue;
    }
    const uint8_t* plain = nullptr;
    if (planned)
      plain = planned->Next();
    else
      InflateAtPosition(stored_length, plain_length, &plain);
    ok = plain && out.Write(plain, plain_length);
  }
  out.Close();
  if (!ok) {
    plan_.reset();
    RemoveFile(destination);
  }
  return ok;
}
