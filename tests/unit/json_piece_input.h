// A JSON input that hands out a text a few bytes at a time, each window in a
// fresh allocation holding only the last byte handed out before it: a reader
// that steps back further than one byte, or keeps a pointer into an old
// window, reads freed or foreign memory (which the sanitizers catch).
#pragma once

#include <algorithm>
#include <memory>
#include <string>

#include "diagnostics/json/json_input.h"

class JsonPieceInput : public JsonInput {
 public:
  JsonPieceInput(std::string text, size_t step) : text_(std::move(text)), step_(step) {}

  size_t position() const { return given_ - unread(); }

 private:
  bool Refill() override {
    if (given_ == text_.size()) return false;
    const size_t count = std::min(step_, text_.size() - given_);
    const size_t behind = given_ == 0 ? 0 : 1;
    std::unique_ptr<char[]> window(new char[behind + count]);
    text_.copy(window.get(), behind + count, given_ - behind);
    window_ = std::move(window);
    SetWindow(window_.get() + behind, window_.get() + behind + count);
    given_ += count;
    return true;
  }

  const std::string text_;
  const size_t step_;
  size_t given_ = 0;  // bytes handed out in windows so far
  std::unique_ptr<char[]> window_;
};
