// Test program for the trace switch: writes one trace line per argument.
// "len:N" writes a message of N 'm' characters; any other argument is traced
// as text. The lines reach the debugger channel only while the switch is on.
#include <cstdlib>
#include <cstring>
#include <string>

#include "bundle/progress_sink.h"
#include "diagnostics/trace.h"

void ReportProgress(int32_t, int32_t) {}

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "len:", 4) == 0) {
      const std::string message(static_cast<size_t>(std::atoi(argv[i] + 4)), 'm');
      DebugTrace("%s", message.c_str());
    } else {
      DebugTrace("probe %s\n", argv[i]);
    }
  }
  return 0;
}
