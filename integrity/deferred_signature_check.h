// An executable's embedded signature checked on a thread of its own while the
// caller goes on with other work. The verdict and the check's trace lines
// reach the caller only when it asks for them, as if the check ran there and
// then. The caller keeps the file unchangeable (a handle that denies writing)
// from before Start until it no longer relies on the verdict.
#pragma once

#include <string>
#include <vector>

#include "util/sync.h"

class DeferredSignatureCheck {
 public:
  DeferredSignatureCheck() = default;
  // Waits for a started check; its verdict and trace lines are dropped.
  ~DeferredSignatureCheck();
  DeferredSignatureCheck(const DeferredSignatureCheck&) = delete;
  DeferredSignatureCheck& operator=(const DeferredSignatureCheck&) = delete;

  // Starts VerifyFileSignature(path, false) on a second thread; false (and
  // nothing started) when no thread could be had.
  bool Start(const std::wstring& path);
  bool started() const { return started_; }
  // Waits until the started check is done, keeping its verdict and lines.
  void Wait();
  // Waits for the started check, traces its lines on the calling thread and
  // answers its verdict. Only after a successful Start, once.
  bool Finish();
  // Waits for the started check and drops its verdict and lines.
  void Abandon();

 private:
  static void Run(void* self);

  std::wstring path_;
  Thread thread_;
  bool started_ = false;
  bool joined_ = false;
  bool valid_ = false;                 // written by the thread, read after Join
  std::vector<std::string> messages_;  // likewise
};
