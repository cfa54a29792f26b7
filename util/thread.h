// Threads for the portable core, from the platform layer: on Windows Win32
// threads and events only (the product's runtime has no std::thread).
#pragma once

#include <cstdint>
#include <memory>

// Auto-reset: each Set lets one Wait through (a Set with nobody waiting is
// kept until the next Wait). Set and Wait are memory barriers.
class Signal {
 public:
  Signal();
  ~Signal();
  Signal(const Signal&) = delete;
  Signal& operator=(const Signal&) = delete;
  bool ok() const;  // false when the platform refused the object
  void Set();
  void Wait();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// One thread running `body(context)`; joined by Join or the destructor.
class Thread {
 public:
  Thread();
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  bool Start(void (*body)(void*), void* context);  // false: no thread was started
  void Join();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
