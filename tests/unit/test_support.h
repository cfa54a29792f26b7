// Shared helpers for unit tests: in-memory fixture builders, a temporary
// directory, file round trips, trace capture and a progress recorder.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline void put16(Bytes& b, uint64_t off, uint16_t v) {
  if (b.size() < off + 2) b.resize(off + 2);
  b[off] = static_cast<uint8_t>(v);
  b[off + 1] = static_cast<uint8_t>(v >> 8);
}
inline void put32(Bytes& b, uint64_t off, uint32_t v) {
  if (b.size() < off + 4) b.resize(off + 4);
  for (int i = 0; i < 4; ++i) b[off + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void append32(Bytes& b, uint32_t v) { put32(b, b.size(), v); }
inline void appendBytes(Bytes& b, const void* p, size_t n) {
  const uint8_t* q = static_cast<const uint8_t*>(p);
  b.insert(b.end(), q, q + n);
}
inline void appendStr(Bytes& b, const std::string& s) { appendBytes(b, s.data(), s.size()); }

// A fresh directory, removed with its files when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::wstring& path() const { return path_; }
  std::wstring File(const std::wstring& name) const;

 private:
  std::wstring path_;
};

bool WriteWholeFile(const std::wstring& path, const Bytes& data);
bool ReadWholeFile(const std::wstring& path, Bytes* data);
bool FileExists(const std::wstring& path);

// Captures every DebugTrace line (prefix "[T xxxxxxxx] " stripped) while alive.
class TraceCapture {
 public:
  TraceCapture();
  ~TraceCapture();
  const std::vector<std::string>& lines() const { return lines_; }
  std::string Joined() const;  // all messages concatenated
  void Clear() { lines_.clear(); }

 private:
  static void Sink(const std::string& line, void* self);
  std::vector<std::string> lines_;
};

// Records every ReportProgress call made while alive.
class ProgressRecorder {
 public:
  ProgressRecorder();
  ~ProgressRecorder();
  const std::vector<std::pair<int32_t, int32_t>>& calls() const { return calls_; }

 private:
  friend void RecordProgressCall(int32_t, int32_t);
  std::vector<std::pair<int32_t, int32_t>> calls_;
};

Bytes Md5Of(const Bytes& data);
