// The bytes a JSON read takes: one at a time, with one step back. A source
// hands out its bytes in windows of memory, so that taking a byte is an inline
// pointer step and only an exhausted window costs a call. No iostreams: the
// product links this reader and nothing of the C++ streams.
#pragma once

#include <cstddef>
#include <string>

class JsonInput {
 public:
  static constexpr int kEnd = -1;

  JsonInput() = default;
  JsonInput(const JsonInput&) = delete;
  JsonInput& operator=(const JsonInput&) = delete;
  virtual ~JsonInput() = default;

  // The next byte (0..255), consumed; kEnd once the source is exhausted.
  int Get() {
    if (next_ != end_) return static_cast<unsigned char>(*next_++);
    return Refilled() ? static_cast<unsigned char>(*next_++) : kEnd;
  }
  // The next byte without consuming it; kEnd at the end.
  int Peek() {
    if (next_ != end_) return static_cast<unsigned char>(*next_);
    return Refilled() ? static_cast<unsigned char>(*next_) : kEnd;
  }
  // Steps back over the byte the last Get() returned (a Peek() may lie
  // between). Only ever after a Get() that returned a byte.
  void Unget() { --next_; }

 protected:
  // Sets the unread bytes. Any window after the first must keep the byte
  // handed out last readable right before `next`, which is what Unget()
  // steps back to.
  void SetWindow(const char* next, const char* end) {
    next_ = next;
    end_ = end;
  }
  // Bytes of the current window not read yet.
  size_t unread() const { return static_cast<size_t>(end_ - next_); }

 private:
  // Sets a new, non-empty window; false when the source has no more bytes.
  virtual bool Refill() { return false; }

  bool Refilled() { return Refill() && next_ != end_; }

  const char* next_ = nullptr;
  const char* end_ = nullptr;
};

// A text in memory, read in place; the text must outlive the input.
class JsonTextInput : public JsonInput {
 public:
  JsonTextInput(const char* data, size_t size) : size_(size) { SetWindow(data, data + size); }
  explicit JsonTextInput(const std::string& text) : JsonTextInput(text.data(), text.size()) {}

  // How many bytes the reads have consumed: a parse stops right behind the
  // value it read, so this is where whatever follows the value begins.
  size_t position() const { return size_ - unread(); }

 private:
  size_t size_;
};
