// Reader of inner bundle files: a 25-byte header, named records of zlib chunks
// stored scrambled, an end marker, and a tail with a signature block and a
// SHA-1 digest. Opening validates the file (signature, record index) unless
// told not to; records are then found by name, read as bytes or text lines,
// or extracted to files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "bundle/buffered_file.h"
#include "bundle/chunk_inflater.h"
#include "bundle/descrambler.h"
#include "util/platform.h"

namespace CryptoPP {
class SHA1;
}
class PssVerifierFilter;
class ChunkPrefetch;

// One chunk of a record: where its stored data starts and the descrambler
// state at that byte.
struct ChunkEntry {
  uint64_t offset = 0;
  uint32_t stored_length = 0;
  uint32_t plain_length = 0;
  DescramblerState state;
};

// A record's name, plain size and the chunks that hold its content. Chunks of
// plain length 0 add nothing to the content and are not listed.
struct RecordIndexEntry {
  std::string name;
  uint64_t plain_size = 0;
  std::vector<ChunkEntry> chunks;
};

// An open record. Owned by the BundleFile that made it; valid until
// CloseRecord or Close. Keeps up to 10 decoded chunks.
class RecordHandle {
 public:
  uint64_t size() const { return plain_size_; }
  uint64_t position() const { return position_; }

 private:
  friend class BundleFile;
  struct CachedChunk {
    size_t number;
    std::vector<uint8_t> plain;
  };

  uint64_t plain_size_ = 0;
  uint64_t position_ = 0;
  std::vector<ChunkEntry> chunks_;
  std::vector<uint64_t> chunk_starts_;  // content offset of each chunk
  std::deque<CachedChunk> cache_;
  // Where the bundle stood when the handle was made; CloseRecord returns there.
  int64_t saved_offset_ = 0;
  DescramblerState saved_state_;
};

class BundleFile {
 public:
  static constexpr uint32_t kHeaderSize = 25;
  static constexpr uint32_t kDefaultMaxChunkSize = 0x200000;
  static constexpr size_t kMaxOpenHandles = 32;
  static constexpr size_t kMaxIndexedRecords = 256;
  static constexpr size_t kChunkCacheEntries = 10;
  static constexpr uint32_t kMaxNameLength = 255;
  // No zlib stream is shorter; a chunk that claims content in fewer stored
  // bytes can never inflate, and validation refuses it.
  static constexpr uint32_t kMinStoredContentChunk = 8;

  // Descrambles with the built-in bundle key; maximum chunk size 2 MiB;
  // expected certificate goal "AVSG".
  BundleFile();
  ~BundleFile();
  BundleFile(const BundleFile&) = delete;
  BundleFile& operator=(const BundleFile&) = delete;

  void SetKey(const uint8_t* key, size_t length);
  void SetMaxChunkSize(uint32_t size) { max_chunk_size_ = size; }
  void SetExpectedGoal(const std::string& goal) { expected_goal_ = goal; }

  // Opens `path` for reading while denying others write and delete access,
  // checks the header and, unless `skip_validation`, validates the bundle and
  // indexes its records. False leaves the object closed.
  bool Open(const std::wstring& path, bool skip_validation);
  bool Close();
  bool is_open() const { return open_; }
  const std::wstring& path() const { return path_; }
  // The three header values after the version byte (not interpreted).
  const uint32_t* header_values() const { return header_values_; }
  // Records indexed by validation, in file order.
  const std::vector<RecordIndexEntry>& records() const { return index_; }

  // Sequential walk over the records from the first one.
  bool Rewind();
  // The next record's name (cut at a NUL byte). At the end marker (a name
  // length of 0 or above 255) the bundle is rewound and false returned.
  bool ReadNextName(std::string* name);
  // Passes over the rest of the record whose name was just read.
  bool SkipRecord();

  // Looks a record up (index first, else a scan). Null when absent, when 32
  // handles are open, or when the bundle is not open.
  RecordHandle* FindRecord(const std::string& name);
  // Reads up to element_size * count bytes of content; returns whole elements
  // read. 0 on failure (traced "?!", "?!!" or "?!!!").
  size_t ReadRecord(RecordHandle* handle, void* destination, size_t element_size, size_t count);
  // Reads one line: "\r" dropped, "\n" kept, at most capacity - 1 characters,
  // NUL-terminated. Null at the end of the record, whatever the capacity.
  char* ReadLine(char* destination, size_t capacity, RecordHandle* handle);
  // Frees the handle and puts the file position and descrambler state back to
  // where they were when the handle was made.
  void CloseRecord(RecordHandle* handle);

  // Writes a record's content to `destination`. On failure the destination is
  // deleted and false returned.
  bool ExtractRecord(const std::wstring& destination, const std::string& name);
  // Starts reading the chunks of these indexed records, in this order, ahead
  // on a second thread. ExtractRecord calls in the same order take their data
  // from there; a call for any other record, or a failure, ends the plan and
  // reading goes on directly. The plan stops at the first name not indexed.
  void PlanExtraction(const std::vector<std::string>& names);

 private:
  enum class ChunkLoad { kOk, kReadFailed, kInflateFailed };

  // Reads through the descrambler. verify: feed the installed verifier the
  // stored bytes and (unless skip) the SHA-1 the plain bytes. skip: only
  // advance the descrambler. Never reads past read_limit_.
  size_t ReadDescrambled(void* destination, size_t element_size, size_t count, bool verify,
                         bool skip);
  bool ReadU32(uint32_t* value);
  // Passes over `n` bytes through ReadDescrambled with the same flags.
  bool PassOver(uint64_t n, bool verify, bool skip);
  bool ValidateBundleSignature();
  bool IndexRecord(const std::string& name, bool verifying);
  // Reads the chunk list of the record whose name was just read and passes
  // over the chunk data. While validating, every byte goes to the verifier,
  // the chunk limits are checked, and chunk data is descrambled for the
  // digest unless `skip_data`. Only chunks with content get an entry, so a
  // run of empty chunks costs no memory. False when the list ends early or a
  // chunk breaks a limit; the chunks read so far stay in `entry`.
  bool ReadChunkList(RecordIndexEntry* entry, bool validating, bool skip_data);
  bool ChunkWithinLimits(uint32_t stored, uint32_t plain) const;
  ChunkLoad LoadChunk(const ChunkEntry& chunk, std::vector<uint8_t>* plain);
  // Reads a chunk's stored bytes at the current position and inflates them;
  // `*plain` (null on failure) stays valid until the next chunk is inflated.
  ChunkLoad InflateAtPosition(uint32_t stored_length, uint32_t plain_length, const uint8_t** plain);
  bool IsOurHandle(const RecordHandle* handle) const;
  // Where the next planned record's chunks come from, when `entry` is it.
  ChunkPrefetch* TakePlanned(const RecordIndexEntry* entry);
  // Rewinds and walks the names until `name`; positioned after it when true.
  bool ScanToRecord(const std::string& name);
  void Reset();

  BufferedFile file_;  // the record structure is read a few bytes at a time
  bool open_ = false;
  std::wstring path_;
  uint32_t header_values_[3] = {0, 0, 0};
  uint32_t max_chunk_size_ = kDefaultMaxChunkSize;
  std::string expected_goal_ = "AVSG";
  Descrambler descrambler_;
  std::unique_ptr<CryptoPP::SHA1> sha1_;
  // The record structure arrives a few bytes at a time; the digest takes it
  // in pieces of this buffer, as a hash call per field costs more than the field.
  std::vector<uint8_t> sha1_pending_;
  void DigestPlain(const uint8_t* bytes, size_t n);
  void FinishDigest(uint8_t* digest);
  std::unique_ptr<PssVerifierFilter> verifier_;  // only while validating
  bool verify_inline_ = true;  // false while a second thread feeds verifier_
  int64_t read_limit_ = -1;                      // -1: none
  std::vector<std::unique_ptr<RecordHandle>> handles_;
  std::vector<RecordIndexEntry> index_;
  ScratchBuffer stored_;
  ChunkInflater inflater_;
  struct Plan;
  std::unique_ptr<Plan> plan_;  // reset before index_ changes: it points into it
};
