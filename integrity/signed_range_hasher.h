// Feeds a signature verifier the bytes [0, end) of a file on a second thread,
// through its own handle, while the caller walks the same bytes for their
// structure. An inner bundle's signature covers exactly that range, in file
// order, whatever the walk finds in it, so hashing need not wait for the walk.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "util/platform.h"
#include "util/sync.h"

class PssVerifierFilter;

class SignedRangeHasher {
 public:
  SignedRangeHasher() = default;
  // Stops the thread after the piece it is on and waits for it.
  ~SignedRangeHasher();
  SignedRangeHasher(const SignedRangeHasher&) = delete;
  SignedRangeHasher& operator=(const SignedRangeHasher&) = delete;

  // False when no handle or no thread could be had; nothing was fed then and
  // the caller hashes on its own. `verifier` must outlive Finish.
  bool Start(PssVerifierFilter* verifier, const std::wstring& path, int64_t end);
  enum class Result { kFed, kReadFailed, kThrew };
  // Stops the thread after the piece it is on and waits for it; the verifier
  // is no longer used once this returns. Nothing happens when none runs.
  void Stop();
  // Waits until every byte was fed. kThrew: the verifier threw; `what` holds
  // the text of a std::exception, else stays empty.
  Result Finish(std::string* what);

 private:
  static void Run(void* self);
  // Waits for the thread and closes the file.
  void Join();

  PssVerifierFilter* verifier_ = nullptr;
  File file_;
  int64_t end_ = 0;
  std::atomic<bool> stop_{false};
  Result result_ = Result::kReadFailed;
  std::string what_;
  Thread thread_;
  bool running_ = false;
};
