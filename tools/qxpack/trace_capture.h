// Collects the stub code's trace lines while it lives, so a command can name
// the reason of a refusal. Messages without the thread prefix, joined by "; ".
#pragma once

#include <string>

class TraceCapture {
 public:
  TraceCapture();
  ~TraceCapture();
  TraceCapture(const TraceCapture&) = delete;
  TraceCapture& operator=(const TraceCapture&) = delete;

  const std::string& text() const { return text_; }

 private:
  static void Collect(const std::string& line, void* context);
  std::string text_;
};
