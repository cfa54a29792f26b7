#include "util/thread.h"

#include <windows.h>

struct Signal::Impl {
  HANDLE event = nullptr;
};

Signal::Signal() : impl_(new Impl) { impl_->event = CreateEventW(nullptr, FALSE, FALSE, nullptr); }
Signal::~Signal() {
  if (impl_->event) CloseHandle(impl_->event);
}
bool Signal::ok() const { return impl_->event != nullptr; }
void Signal::Set() { SetEvent(impl_->event); }
void Signal::Wait() { WaitForSingleObject(impl_->event, INFINITE); }

struct Thread::Impl {
  HANDLE handle = nullptr;
  void (*body)(void*) = nullptr;
  void* context = nullptr;
  static DWORD WINAPI Run(LPVOID self) {
    Impl* impl = static_cast<Impl*>(self);
    impl->body(impl->context);
    return 0;
  }
};

Thread::Thread() : impl_(new Impl) {}
Thread::~Thread() { Join(); }

bool Thread::Start(void (*body)(void*), void* context) {
  if (impl_->handle) return false;
  impl_->body = body;
  impl_->context = context;
  impl_->handle = CreateThread(nullptr, 0, &Impl::Run, impl_.get(), 0, nullptr);
  return impl_->handle != nullptr;
}

void Thread::Join() {
  if (!impl_->handle) return;
  WaitForSingleObject(impl_->handle, INFINITE);
  CloseHandle(impl_->handle);
  impl_->handle = nullptr;
}
