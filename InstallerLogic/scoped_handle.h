// Move-only owners of Win32 kernel handles and LocalAlloc'd memory.
#pragma once

#include <windows.h>

#include <utility>

class ScopedHandle {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(HANDLE h) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
  ~ScopedHandle() { Reset(); }
  ScopedHandle(ScopedHandle&& other) noexcept : h_(std::exchange(other.h_, nullptr)) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      h_ = std::exchange(other.h_, nullptr);
    }
    return *this;
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;

  HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }
  void Reset() {
    if (h_) CloseHandle(std::exchange(h_, nullptr));
  }

 private:
  HANDLE h_ = nullptr;
};

template <typename T>
class ScopedLocal {
 public:
  ScopedLocal() = default;
  ~ScopedLocal() {
    if (p_) LocalFree(p_);
  }
  ScopedLocal(const ScopedLocal&) = delete;
  ScopedLocal& operator=(const ScopedLocal&) = delete;
  T** out() { return &p_; }
  T* get() const { return p_; }

 private:
  T* p_ = nullptr;
};
