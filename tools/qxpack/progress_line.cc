#include "tools/qxpack/progress_line.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "bundle/progress_sink.h"

namespace {

struct Task {
  bool active = false;
  bool drawn = false;
  bool terminal = false;
  std::string label;
  uint64_t total = 0;
  double scale = 100.0;
  std::chrono::steady_clock::time_point last;
};

Task task;

std::string Megabytes(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
  return text;
}

}  // namespace

void ProgressBegin(const std::string& label, uint64_t total, double scale) {
  ProgressEnd();
  task.active = true;
  task.drawn = false;
  task.terminal = isatty(STDERR_FILENO) == 1;
  task.label = label;
  task.total = total;
  task.scale = scale > 0 ? scale : 100.0;
  task.last = {};
}

void ProgressUpdate(uint64_t done) {
  if (!task.active || !task.terminal) return;
  // Redrawing more than ten times a second only costs time.
  const auto now = std::chrono::steady_clock::now();
  if (done < task.total && now - task.last < std::chrono::milliseconds(100)) return;
  task.last = now;
  std::fprintf(stderr, "\r%s: %s of %s\033[K", task.label.c_str(), Megabytes(done).c_str(),
               Megabytes(task.total).c_str());
  std::fflush(stderr);
  task.drawn = true;
}

void ProgressEnd() {
  if (task.active && task.drawn) std::fprintf(stderr, "\r\033[K");
  task.active = false;
  task.drawn = false;
}

// The stub's extraction code reports base + part percent before each chunk.
void ReportProgress(int32_t base, int32_t part) {
  if (!task.active || part < 0) return;
  ProgressUpdate(static_cast<uint64_t>(part / task.scale * static_cast<double>(task.total)));
}
