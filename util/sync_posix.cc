// pthreads side of util/sync.h, for host builds.
#include "util/sync.h"

#include <pthread.h>
#include <time.h>

struct Mutex::Impl {
  pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
};

Mutex::Mutex() : impl_(new Impl) {}
Mutex::~Mutex() { pthread_mutex_destroy(&impl_->mutex); }
void Mutex::Lock() { pthread_mutex_lock(&impl_->mutex); }
void Mutex::Unlock() { pthread_mutex_unlock(&impl_->mutex); }

struct AutoResetEvent::Impl {
  pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t cond;
  bool set = false;
};

AutoResetEvent::AutoResetEvent() : impl_(new Impl) {
  pthread_condattr_t attr;
  pthread_condattr_init(&attr);
  pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
  pthread_cond_init(&impl_->cond, &attr);
  pthread_condattr_destroy(&attr);
}
bool AutoResetEvent::ok() const { return true; }

AutoResetEvent::~AutoResetEvent() {
  pthread_cond_destroy(&impl_->cond);
  pthread_mutex_destroy(&impl_->mutex);
}

void AutoResetEvent::Set() {
  pthread_mutex_lock(&impl_->mutex);
  impl_->set = true;
  pthread_cond_signal(&impl_->cond);
  pthread_mutex_unlock(&impl_->mutex);
}

bool AutoResetEvent::Wait(uint32_t timeoutMs) {
  timespec deadline;
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += timeoutMs / 1000;
  deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  pthread_mutex_lock(&impl_->mutex);
  while (!impl_->set) {
    if (pthread_cond_timedwait(&impl_->cond, &impl_->mutex, &deadline) != 0) break;
  }
  const bool signalled = impl_->set;
  impl_->set = false;
  pthread_mutex_unlock(&impl_->mutex);
  return signalled;
}

struct Thread::Impl {
  pthread_t thread;
  bool started = false;
};

namespace {
// Handed to the new thread, which owns and frees it.
struct StartInfo {
  Thread::Body body;
  void* context;
};

void* ThreadStart(void* param) {
  const StartInfo start = *static_cast<StartInfo*>(param);
  delete static_cast<StartInfo*>(param);
  start.body(start.context);
  return nullptr;
}
}  // namespace

Thread::Thread() : impl_(new Impl) {}

Thread::~Thread() {
  if (impl_->started) pthread_detach(impl_->thread);
}

bool Thread::Start(Body body, void* context) {
  if (impl_->started) return false;
  StartInfo* start = new StartInfo{body, context};
  if (pthread_create(&impl_->thread, nullptr, &ThreadStart, start) != 0) {
    delete start;
    return false;
  }
  impl_->started = true;
  return true;
}

bool Thread::Join() {
  if (!impl_->started) return false;
  pthread_join(impl_->thread, nullptr);
  impl_->started = false;
  return true;
}
