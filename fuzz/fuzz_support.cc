#include "fuzz/fuzz_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bundle/progress_sink.h"
#include "diagnostics/trace.h"
#include "util/platform.h"
#include "util/text_conv.h"

namespace {

std::string ScratchDirectory() {
  const char* chosen = std::getenv("QX_FUZZ_TMP");
  if (chosen && *chosen) return chosen;
  return access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
}

std::string ScratchPath(const char* what) {
  return ScratchDirectory() + "/qxfuzz-" + std::to_string(getpid()) + "-" + what;
}

const std::wstring& InputPath() {
  static const std::wstring path = MultiByteToWide(ScratchPath("input"));
  return path;
}

const std::wstring& OutputPath() {
  static const std::wstring path = MultiByteToWide(ScratchPath("output"));
  return path;
}

void RemoveScratchFiles() {
  RemoveFile(InputPath());
  RemoveFile(OutputPath());
}

// Every trace line is formatted, as with the switch on, so that format and
// argument mistakes show; the text itself is dropped.
void FormatOnly(const std::string& line, void*) {
  volatile size_t length = line.size();
  (void)length;
}

}  // namespace

// The packer and the stub show progress; the targets have nothing to show.
void ReportProgress(int32_t, int32_t) {}

std::wstring WriteInputFile(const uint8_t* data, size_t size) {
  File file;
  if (!file.Open(InputPath(), FileAccess::kCreate) || (size > 0 && !file.Write(data, size))) {
    std::perror("qxfuzz: cannot write the scratch input file");
    std::abort();
  }
  return InputPath();
}

std::wstring ScratchOutputPath() { return OutputPath(); }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Some readers report on standard output (one line per bad character, for
  // the JSON reader); libFuzzer reports on standard error.
  const int null = open("/dev/null", O_WRONLY);
  if (null >= 0) {
    dup2(null, STDOUT_FILENO);
    close(null);
  }
  SetTraceSink(&FormatOnly, nullptr);
  // The paths first: statics made before the handler is registered are
  // destroyed after it runs.
  InputPath();
  OutputPath();
  std::atexit(&RemoveScratchFiles);
  return 0;
}
