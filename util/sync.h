// Threads and locks for code that must run on Windows XP: the product's
// compiler variant has no std::thread, std::mutex or std::condition_variable,
// and XP has no condition variables. util/sync_win.cc builds these on
// CRITICAL_SECTION, auto-reset events and CreateThread; util/sync_posix.cc on
// pthreads for host builds. None of them can be copied or moved.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

class Mutex {
 public:
  Mutex();
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;
  void Lock();
  void Unlock();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Holds a Mutex for its scope.
class MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) : mutex_(mutex) { mutex_.Lock(); }
  ~MutexLock() { mutex_.Unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& mutex_;
};

// A timeout that never runs out (about 49 days on hosts without one).
constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

// Starts unsignalled. Set wakes one waiter, or the next one to wait when
// nobody waits; a successful Wait resets it.
class AutoResetEvent {
 public:
  AutoResetEvent();
  ~AutoResetEvent();
  AutoResetEvent(const AutoResetEvent&) = delete;
  AutoResetEvent& operator=(const AutoResetEvent&) = delete;
  bool ok() const;  // false when the platform refused the object
  void Set();
  // True when the event was set within timeoutMs milliseconds.
  bool Wait(uint32_t timeoutMs);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// One thread running body(context). The thread is never stopped from outside;
// destroying the object without Join leaves it running on its own.
class Thread {
 public:
  using Body = void (*)(void* context);
  Thread();
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  // False when the thread could not be created or one was started already.
  bool Start(Body body, void* context);
  // Waits until the body has returned; false when no thread was started.
  bool Join();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A one-way signal between one poster and one taker, for hand-offs that are
// usually ready before they are awaited: Post and Take touch only an atomic
// flag unless the taker must really sleep, because every call on an event
// goes through the platform (under Wine, a round trip to its server).
class Handoff {
 public:
  bool ok() const { return event_.ok(); }
  void Post() {
    posted_.store(true, std::memory_order_release);
    if (sleeping_.exchange(false, std::memory_order_acq_rel)) event_.Set();
  }
  // Whether a Post has come that Take would consume at once.
  bool posted() const { return posted_.load(std::memory_order_acquire); }
  // Returns once a Post has come, and consumes it.
  void Take() {
    if (!posted_.load(std::memory_order_acquire)) {
      sleeping_.store(true, std::memory_order_seq_cst);
      if (!posted_.load(std::memory_order_seq_cst) ||
          !sleeping_.exchange(false, std::memory_order_acq_rel)) {
        // Either nothing was posted, or the poster saw us asleep and sets
        // the event: wait for it (keeps the event's count balanced).
        event_.Wait(kWaitForever);
      }
    }
    posted_.store(false, std::memory_order_relaxed);
  }

 private:
  std::atomic<bool> posted_{false};
  std::atomic<bool> sleeping_{false};
  AutoResetEvent event_;
};
