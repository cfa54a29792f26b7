// The benchmark's floor: the work that an installer of this format cannot
// avoid, done once, in one sequential pass, on one thread, with the product's
// own readers and libraries. It reads the "LOAD" attachment of an installer,
// unmasks it and takes its MD5 while writing setup.exe, takes the MD5 of the
// "IBND" attachment inside it, hashes the signed parts (SHA-1 of the setup
// program, SHA-256 of the inner bundle), descrambles and inflates every
// record to a file, starts setup.exe, waits for it and deletes everything.
// It checks nothing beyond the digests: the stub's time divided by this
// program's is the price of its checks and of its structure.
//
//     qx_floor.exe INSTALLER.exe      exit code 0 when everything was done
#include <windows.h>

#include <zlib.h>

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/md5.h>
#include <cryptopp/sha.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bundle/attachment_chain.h"
#include "bundle/descrambler.h"
#include "bundle/pe_layout.h"
#include "integrity/builtin_keys.h"
#include "util/byte_reader.h"
#include "util/platform.h"

namespace {

constexpr size_t kReadChunk = 0x100000;
constexpr size_t kTailRead = 64 * 1024;
constexpr size_t kInflateOut = 256 * 1024;
constexpr uint64_t kBundleHeader = 25;

int Fail(const char* what) {
  std::fprintf(stderr, "floor: %s\n", what);
  return 1;
}

struct Found {
  int64_t offset = -1;
  uint32_t size = 0;
  uint8_t digest[kDigestSize] = {};
};

// Walks a chain held in memory (`tail` holds the bytes that end at `end`).
bool FindInTail(const std::vector<uint8_t>& tail, uint64_t end, const char* type, Found* out) {
  const uint64_t tailStart = end - tail.size();
  int64_t t = static_cast<int64_t>(end) - static_cast<int64_t>(kTrailerSize);
  while (t >= static_cast<int64_t>(tailStart)) {
    const uint8_t* trailer = tail.data() + (t - tailStart);
    if (ByteReader::LoadU32(trailer + kTrailerMagicField) != kAttachmentMagic) return false;
    const uint32_t size = ByteReader::LoadU32(trailer + kTrailerSizeField);
    if (std::memcmp(trailer + kTrailerTypeField, type, kTypeSize) == 0) {
      out->offset = t - size;
      out->size = size;
      std::memcpy(out->digest, trailer, kDigestSize);
      return out->offset >= 0;
    }
    t -= static_cast<int64_t>(size) + static_cast<int64_t>(kTrailerSize);
  }
  return false;
}

// Streams the inner bundle's bytes: the records are descrambled and inflated
// into files of the workspace as their bytes arrive.
class RecordWriter {
 public:
  explicit RecordWriter(std::wstring workspace) : workspace_(std::move(workspace)) {
    descrambler_.SetKey(ActiveTrustedKeys().table, ActiveTrustedKeys().table_size);
    out_.resize(kInflateOut);
  }
  ~RecordWriter() { EndChunk(); }

  // `at` is the offset of data[0] in the bundle.
  bool Feed(uint8_t* data, size_t n, uint64_t at) {
    if (at < kBundleHeader) {
      const size_t skip = static_cast<size_t>(std::min<uint64_t>(n, kBundleHeader - at));
      data += skip;
      n -= skip;
      at += skip;
    }
    while (n > 0 && state_ != State::kDone) {
      if (state_ == State::kData) {
        const size_t step = static_cast<size_t>(std::min<uint64_t>(n, dataLeft_));
        descrambler_.Apply(data, step, at);
        if (!Inflate(data, step)) return false;
        data += step;
        n -= step;
        at += step;
        dataLeft_ -= step;
        if (dataLeft_ == 0) {
          if (!chunkEnded_) return false;
          EndChunk();
          state_ = --chunksLeft_ > 0 ? State::kStored : EndRecord();
        }
        continue;
      }
      // Small fields: gathered byte by byte from the stream.
      const size_t need = state_ == State::kName ? nameLength_ : 4;
      const size_t step = std::min(n, need - field_.size());
      descrambler_.Apply(data, step, at);
      field_.insert(field_.end(), data, data + step);
      data += step;
      n -= step;
      at += step;
      if (field_.size() == need && !FieldDone()) return false;
    }
    return true;
  }
  bool done() const { return state_ == State::kDone; }
  unsigned written() const { return written_; }

 private:
  enum class State { kNameLength, kName, kCount, kStored, kPlain, kData, kDone };

  State EndRecord() {
    file_.Close();
    return State::kNameLength;
  }

  bool FieldDone() {
    const uint32_t value = field_.size() >= 4 ? ByteReader::LoadU32(field_.data()) : 0;
    switch (state_) {
      case State::kNameLength:
        if (value == 0 || value > 255) {
          state_ = State::kDone;
        } else {
          nameLength_ = value;
          state_ = State::kName;
        }
        break;
      case State::kName: {
        const std::string name(field_.begin(), field_.end());
        write_ = name != "install_script";
        if (write_) {
          std::wstring wide(name.begin(), name.end());
          if (!file_.Open(workspace_ + wide, FileAccess::kCreate)) return false;
          ++written_;
        }
        state_ = State::kCount;
        break;
      }
      case State::kCount:
        chunksLeft_ = value;
        state_ = value > 0 ? State::kStored : EndRecord();
        break;
      case State::kStored:
        dataLeft_ = value;
        state_ = State::kPlain;
        break;
      case State::kPlain:
        if (dataLeft_ == 0) return false;
        std::memset(&zs_, 0, sizeof zs_);
        if (inflateInit(&zs_) != Z_OK) return false;
        inflating_ = true;
        chunkEnded_ = false;
        state_ = State::kData;
        break;
      default:
        return false;
    }
    field_.clear();
    return true;
  }

  bool Inflate(const uint8_t* data, size_t n) {
    if (!write_) {
      chunkEnded_ = true;  // the script is not installed: skipped unread
      return true;
    }
    zs_.next_in = const_cast<Bytef*>(data);
    zs_.avail_in = static_cast<uInt>(n);
    while (!chunkEnded_) {
      zs_.next_out = out_.data();
      zs_.avail_out = static_cast<uInt>(out_.size());
      const int rc = inflate(&zs_, Z_NO_FLUSH);
      if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) return false;
      const size_t produced = out_.size() - zs_.avail_out;
      if (produced && !file_.Write(out_.data(), produced)) return false;
      if (rc == Z_STREAM_END) chunkEnded_ = true;
      if (produced == 0 && (rc == Z_BUF_ERROR || zs_.avail_in == 0)) break;
    }
    return true;
  }

  void EndChunk() {
    if (inflating_) inflateEnd(&zs_);
    inflating_ = false;
  }

  std::wstring workspace_;
  Descrambler descrambler_;
  State state_ = State::kNameLength;
  std::vector<uint8_t> field_;
  uint32_t nameLength_ = 0;
  uint32_t chunksLeft_ = 0;
  uint64_t dataLeft_ = 0;
  bool write_ = false;
  File file_;
  z_stream zs_;
  bool inflating_ = false;
  bool chunkEnded_ = false;
  std::vector<uint8_t> out_;
  unsigned written_ = 0;
};

void RemoveWorkspace(const std::wstring& workspace) {
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((workspace + L"*").c_str(), &found);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        DeleteFileW((workspace + found.cFileName).c_str());
    } while (FindNextFileW(find, &found));
    FindClose(find);
  }
  RemoveDirectoryW(workspace.c_str());
}

int Run(const std::wstring& installer, const std::wstring& workspace) {
  File stub;
  if (!stub.Open(installer, FileAccess::kRead)) return Fail("cannot open the installer");
  ChainWalker walker(stub, GetLastSectionEnd(stub));
  AttachmentInfo load;
  for (;;) {
    if (walker.Next(&load) != ChainWalker::Step::kTrailer) return Fail("no LOAD");
    if (load.type == "LOAD") break;
  }
  if (load.dataOffset < 0) return Fail("bad LOAD");

  // The setup program's own chain ends with its signature record and the
  // inner bundle: read its tail first to learn where they lie.
  const uint64_t setupSize = load.size;
  std::vector<uint8_t> tail(static_cast<size_t>(std::min<uint64_t>(setupSize, kTailRead)));
  if (!stub.Seek(load.dataOffset + static_cast<int64_t>(setupSize - tail.size())) ||
      stub.Read(tail.data(), tail.size()) != tail.size())
    return Fail("tail read");
  MaskAttachmentBytes(tail.data(), tail.size());
  Found signature, inner;
  if (!FindInTail(tail, setupSize, "_SG2", &signature) || !FindInTail(tail, setupSize, "IBND", &inner))
    return Fail("no _SG2 or IBND in the setup program");
  const uint64_t innerEnd = static_cast<uint64_t>(inner.offset) + inner.size;
  if (innerEnd < kTrailerSize + setupSize - tail.size()) return Fail("inner bundle tail");
  const uint8_t* blockLength = tail.data() + (innerEnd - 28 - (setupSize - tail.size()));
  const uint64_t bundleSigned = inner.size - 28 - (ByteReader::LoadU32(blockLength) ^ 0xA7A7A7A7u);
  const uint64_t setupSigned = static_cast<uint64_t>(signature.offset);

  File setup;
  if (!setup.Open(workspace + L"setup.exe", FileAccess::kCreate)) return Fail("setup.exe");
  CryptoPP::Weak1::MD5 loadDigest, innerDigest;
  CryptoPP::SHA1 setupHash;
  CryptoPP::SHA256 bundleHash;
  RecordWriter records(workspace);
  std::vector<uint8_t> buffer(kReadChunk), inner_piece;
  if (!stub.Seek(load.dataOffset)) return Fail("seek");
  for (uint64_t pos = 0; pos < setupSize;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(setupSize - pos, buffer.size()));
    if (stub.Read(buffer.data(), n) != n) return Fail("read");
    MaskAttachmentBytes(buffer.data(), n);
    loadDigest.Update(buffer.data(), n);
    if (!setup.Write(buffer.data(), n)) return Fail("write setup.exe");
    if (pos < setupSigned)
      setupHash.Update(buffer.data(), static_cast<size_t>(std::min<uint64_t>(n, setupSigned - pos)));
    // The part of this piece that belongs to the inner bundle.
    const uint64_t from = std::max<uint64_t>(pos, inner.offset), to = std::min(pos + n, innerEnd);
    if (from < to) {
      const uint64_t at = from - inner.offset;
      uint8_t* p = buffer.data() + (from - pos);
      const size_t m = static_cast<size_t>(to - from);
      MaskAttachmentBytes(p, m);
      innerDigest.Update(p, m);
      if (at < bundleSigned)
        bundleHash.Update(p, static_cast<size_t>(std::min<uint64_t>(m, bundleSigned - at)));
      if (!records.done() && !records.Feed(p, m, at)) return Fail("inner bundle records");
    }
    pos += n;
  }
  setup.Close();
  uint8_t digest[32];
  loadDigest.Final(digest);
  if (!std::equal(digest, digest + kDigestSize, load.digest.begin())) return Fail("LOAD digest");
  innerDigest.Final(digest);
  if (std::memcmp(digest, inner.digest, kDigestSize) != 0) return Fail("IBND digest");
  setupHash.Final(digest);
  bundleHash.Final(digest);
  if (!records.done()) return Fail("record list incomplete");

  std::wstring command = L"\"" + workspace + L"setup.exe\" \"" + installer + L"\"";
  std::vector<wchar_t> line(command.begin(), command.end());
  line.push_back(L'\0');
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      workspace.c_str(), &startup, &process))
    return Fail("CreateProcessW");
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hProcess);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return Fail("usage: qx_floor INSTALLER.exe");
  wchar_t temp[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH, temp);
  if (n == 0 || n > MAX_PATH) return Fail("no temporary directory");
  const std::wstring workspace =
      std::wstring(temp) + L"QXFLOOR_" + std::to_wstring(GetCurrentProcessId()) + L"\\";
  if (!CreateDirectoryW(workspace.c_str(), nullptr)) return Fail("workspace");
  const int result = Run(argv[1], workspace);
  RemoveWorkspace(workspace);
  return result;
}
