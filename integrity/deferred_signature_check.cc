#include "integrity/deferred_signature_check.h"

#include "diagnostics/trace.h"
#include "integrity/file_signature.h"

DeferredSignatureCheck::~DeferredSignatureCheck() { Abandon(); }

bool DeferredSignatureCheck::Start(const std::wstring& path) {
  if (started_) return false;
  path_ = path;
  started_ = thread_.Start(&DeferredSignatureCheck::Run, this);
  joined_ = false;
  return started_;
}

void DeferredSignatureCheck::Run(void* context) {
  DeferredSignatureCheck* self = static_cast<DeferredSignatureCheck*>(context);
  TraceDeferral deferral;
  self->valid_ = VerifyFileSignature(self->path_, false);
  self->messages_ = deferral.Take();
}

void DeferredSignatureCheck::Wait() {
  if (!started_ || joined_) return;
  thread_.Join();
  joined_ = true;
}

bool DeferredSignatureCheck::Finish() {
  if (!started_) return false;
  Wait();
  started_ = false;
  ReplayTrace(messages_);
  messages_.clear();
  return valid_;
}

void DeferredSignatureCheck::Abandon() {
  if (!started_) return;
  Wait();
  started_ = false;
  messages_.clear();
}
