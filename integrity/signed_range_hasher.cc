#include "integrity/signed_range_hasher.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <new>

#include "integrity/pss_verifier.h"

namespace {
constexpr size_t kPiece = 256 * 1024;
}  // namespace

SignedRangeHasher::~SignedRangeHasher() { Stop(); }

void SignedRangeHasher::Stop() {
  if (!running_) return;
  stop_ = true;
  Join();
}

void SignedRangeHasher::Join() {
  thread_.Join();
  running_ = false;
  file_.Close();
}

bool SignedRangeHasher::Start(PssVerifierFilter* verifier, const std::wstring& path, int64_t end) {
  if (running_ || end < 0 || !file_.Open(path, FileAccess::kReadDenyWrite)) return false;
  verifier_ = verifier;
  end_ = end;
  stop_ = false;
  running_ = thread_.Start(&SignedRangeHasher::Run, this);
  if (!running_) file_.Close();
  return running_;
}

void SignedRangeHasher::Run(void* context) {
  SignedRangeHasher* self = static_cast<SignedRangeHasher*>(context);
  std::unique_ptr<uint8_t[]> piece(new (std::nothrow) uint8_t[kPiece]);
  if (!piece || !self->file_.Seek(0)) return;
  try {
    for (int64_t left = self->end_; left > 0;) {
      if (self->stop_) return;
      const size_t step = static_cast<size_t>(std::min<int64_t>(left, kPiece));
      if (self->file_.Read(piece.get(), step) != step) return;
      self->verifier_->Put(piece.get(), step);
      left -= static_cast<int64_t>(step);
    }
    self->result_ = Result::kFed;
  } catch (const std::exception& e) {
    self->result_ = Result::kThrew;
    self->what_ = e.what();
  } catch (...) {
    self->result_ = Result::kThrew;
  }
}

SignedRangeHasher::Result SignedRangeHasher::Finish(std::string* what) {
  if (!running_) return Result::kReadFailed;
  Join();
  *what = what_;
  return result_;
}
