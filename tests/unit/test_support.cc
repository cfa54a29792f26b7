#include "test_support.h"

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/md5.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bundle/progress_sink.h"
#include "diagnostics/trace.h"
#include "util/platform.h"
#include "util/text_conv.h"
#include "test_support_platform.h"
#include "tools/packlib/file_io.h"

namespace {
ProgressRecorder* g_recorder = nullptr;
}

void RecordProgressCall(int32_t base, int32_t part) {
  if (g_recorder) g_recorder->calls_.emplace_back(base, part);
}

// The progress sink of the test binary.
void ReportProgress(int32_t base, int32_t part) { RecordProgressCall(base, part); }

ProgressRecorder::ProgressRecorder() { g_recorder = this; }
ProgressRecorder::~ProgressRecorder() { g_recorder = nullptr; }

TempDir::TempDir() : path_(MakeTempDirectory()) {}
TempDir::~TempDir() { RemoveTree(path_); }
std::wstring TempDir::File(const std::wstring& name) const { return path_ + kPathSep + name; }

bool WriteWholeFile(const std::wstring& path, const Bytes& data) { return WriteFileBytes(path, data); }
bool ReadWholeFile(const std::wstring& path, Bytes* data) { return ReadFileBytes(path, data); }

bool FileExists(const std::wstring& path) {
  ::File f;
  return f.Open(path, FileAccess::kRead);
}

TraceCapture::TraceCapture() { SetTraceSink(&TraceCapture::Sink, this); }
TraceCapture::~TraceCapture() { SetTraceSink(nullptr, nullptr); }

void TraceCapture::Sink(const std::string& line, void* self) {
  // Strip the 13-character thread prefix "[T xxxxxxxx] ".
  static_cast<TraceCapture*>(self)->lines_.push_back(line.size() >= 13 ? line.substr(13) : line);
}

std::string TraceCapture::Joined() const {
  std::string all;
  for (const auto& l : lines_) all += l;
  return all;
}

Bytes Md5Of(const Bytes& data) {
  Bytes digest(CryptoPP::Weak1::MD5::DIGESTSIZE);
  CryptoPP::Weak1::MD5 md5;
  md5.CalculateDigest(digest.data(), data.data(), data.size());
  return digest;
}
