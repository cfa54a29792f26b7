// Progress of long work on standard error: one line rewritten in place with
// the bytes done and the total. Shown only when standard error is a terminal,
// so piped and logged output stays clean. One task at a time.
#pragma once

#include <cstdint>
#include <string>

// Starts a task of `total` bytes. Percent reports of the stub's extraction
// code (ReportProgress(base, part)) map to bytes as part / scale of `total`.
void ProgressBegin(const std::string& label, uint64_t total, double scale = 100.0);
void ProgressUpdate(uint64_t done);
// Ends the line (if one was drawn).
void ProgressEnd();
