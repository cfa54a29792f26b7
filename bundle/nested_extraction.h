// A head start on extracting an attachment that lies inside another
// attachment's data: the setup program carries the inner bundle in its own
// chain, so the inner bundle's bytes stream past while the setup program is
// extracted. Hashing and writing them in that same pass puts the two digests
// on two cores instead of one after the other. The head start decides
// nothing: the nested extraction proper still walks the written file's chain
// and takes the result only for the very same trailer, and only after the
// outer attachment's own digest held.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "bundle/attachment_chain.h"
#include "util/platform.h"

class WriteBehind;
namespace CryptoPP {
namespace Weak1 {
class MD5;
}
}  // namespace CryptoPP

class NestedExtraction {
 public:
  // The attachment of `type` nested in a file-mode chain (one that ends at
  // the end of the outer attachment's data), to be written to `destination`.
  NestedExtraction(std::string type, std::wstring destination);
  // Deletes the destination unless Take succeeded.
  ~NestedExtraction();
  NestedExtraction(const NestedExtraction&) = delete;
  NestedExtraction& operator=(const NestedExtraction&) = delete;

  const std::wstring& destination() const { return destination_; }
  // Whether Prepare found the nested attachment and is filling the destination.
  bool started() const { return active_; }

  // Called once the outer attachment `outer` is found in `container`, before
  // its data streams: looks for the type among the trailers in the last bytes
  // of the outer data and, when found, creates the destination and a thread to
  // fill it. False (nothing to do) leaves every later call a no-op.
  bool Prepare(File& container, const AttachmentInfo& outer);
  // The outer attachment's next plain bytes, in order, from its first byte.
  void Feed(const uint8_t* plain, size_t n);
  // The outer attachment streamed whole and its digest held.
  void OuterVerified();
  // Waits for the thread and closes the destination; before any use of it.
  void Settle();
  // Whether the settled head start holds `found`, the trailer a walk of the
  // written outer file found: the same position, size and digest, every byte
  // written, the outer digest held.
  bool Holds(const AttachmentInfo& found) const;
  // Whether the bytes written unmask to `found`'s digest.
  bool DigestMatches(const AttachmentInfo& found) const;
  // The destination is the extraction's from here on and stays.
  void Take() { taken_ = true; }

 private:
  void Abandon();

  std::string type_;
  std::wstring destination_;
  AttachmentInfo nested_;  // offsets within the outer data
  bool active_ = false;
  bool outer_verified_ = false;
  bool taken_ = false;
  bool written_ = false;
  uint64_t fed_ = 0;
  File out_;
  std::unique_ptr<CryptoPP::Weak1::MD5> md5_;
  std::array<uint8_t, kDigestSize> digest_{};
  std::unique_ptr<WriteBehind> worker_;
};
