#include "tools/qxpack/trace_capture.h"

#include "diagnostics/trace.h"

TraceCapture::TraceCapture() { SetTraceSink(&TraceCapture::Collect, this); }

TraceCapture::~TraceCapture() { SetTraceSink(nullptr, nullptr); }

void TraceCapture::Collect(const std::string& line, void* context) {
  // Drop the "[T xxxxxxxx] " thread prefix; keep the message.
  std::string message = line.size() > 13 && line[0] == '[' ? line.substr(13) : line;
  while (!message.empty() && message.back() == '\n') message.pop_back();
  if (message.empty()) return;
  std::string& all = static_cast<TraceCapture*>(context)->text_;
  if (!all.empty()) all += "; ";
  all += message;
}
