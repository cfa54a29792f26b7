// Win32 side of util/sync.h: only calls that Windows XP exports.
#include "util/sync.h"

#include <windows.h>

#include <utility>

struct Mutex::Impl {
  CRITICAL_SECTION section;
};

Mutex::Mutex() : impl_(new Impl) { InitializeCriticalSection(&impl_->section); }
Mutex::~Mutex() { DeleteCriticalSection(&impl_->section); }
void Mutex::Lock() { EnterCriticalSection(&impl_->section); }
void Mutex::Unlock() { LeaveCriticalSection(&impl_->section); }

struct AutoResetEvent::Impl {
  HANDLE event;
};

AutoResetEvent::AutoResetEvent() : impl_(new Impl{CreateEventW(nullptr, FALSE, FALSE, nullptr)}) {}
AutoResetEvent::~AutoResetEvent() {
  if (impl_->event) CloseHandle(impl_->event);
}
bool AutoResetEvent::ok() const { return impl_->event != nullptr; }
void AutoResetEvent::Set() {
  if (impl_->event) SetEvent(impl_->event);
}
bool AutoResetEvent::Wait(uint32_t timeoutMs) {
  // Without an event handle there is nothing to wait for; keep the timing.
  if (!impl_->event) {
    Sleep(timeoutMs);
    return false;
  }
  return WaitForSingleObject(impl_->event, timeoutMs) == WAIT_OBJECT_0;
}

struct Thread::Impl {
  HANDLE handle = nullptr;
};

namespace {
// Handed to the new thread, which owns and frees it.
struct StartInfo {
  Thread::Body body;
  void* context;
};

DWORD WINAPI ThreadStart(LPVOID param) {
  const StartInfo start = *static_cast<StartInfo*>(param);
  delete static_cast<StartInfo*>(param);
  start.body(start.context);
  return 0;
}
}  // namespace

Thread::Thread() : impl_(new Impl) {}

Thread::~Thread() {
  if (impl_->handle) CloseHandle(impl_->handle);
}

bool Thread::Start(Body body, void* context) {
  if (impl_->handle) return false;
  StartInfo* start = new StartInfo{body, context};
  impl_->handle = CreateThread(nullptr, 0, &ThreadStart, start, 0, nullptr);
  if (!impl_->handle) delete start;
  return impl_->handle != nullptr;
}

bool Thread::Join() {
  if (!impl_->handle) return false;
  WaitForSingleObject(impl_->handle, INFINITE);
  CloseHandle(std::exchange(impl_->handle, nullptr));
  return true;
}
