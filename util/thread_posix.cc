// Host builds only: the standard library's threads stand in for Win32's.
#include "util/thread.h"

#include <condition_variable>
#include <mutex>
#include <thread>

struct Signal::Impl {
  std::mutex lock;
  std::condition_variable changed;
  bool set = false;
};

Signal::Signal() : impl_(new Impl) {}
Signal::~Signal() = default;
bool Signal::ok() const { return true; }

void Signal::Set() {
  std::lock_guard<std::mutex> hold(impl_->lock);
  impl_->set = true;
  impl_->changed.notify_one();
}

void Signal::Wait() {
  std::unique_lock<std::mutex> hold(impl_->lock);
  impl_->changed.wait(hold, [this] { return impl_->set; });
  impl_->set = false;
}

struct Thread::Impl {
  std::thread thread;
};

Thread::Thread() : impl_(new Impl) {}
Thread::~Thread() { Join(); }

bool Thread::Start(void (*body)(void*), void* context) {
  if (impl_->thread.joinable()) return false;
  try {
    impl_->thread = std::thread(body, context);
  } catch (...) {
    return false;
  }
  return true;
}

void Thread::Join() {
  if (impl_->thread.joinable()) impl_->thread.join();
}
