#include "tools/packlib/pe_bundle_section.h"

#include <algorithm>
#include <cstring>

#include "bundle/pe_format.h"
#include "util/byte_reader.h"

namespace {

using pe::kBundleSectionName;
using pe::kMachineAmd64;
using pe::kMachineI386;
using pe::kSectionHeaderSize;
constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr uint32_t kCertificateEntry = 4;
// Initialized data, readable: the loader maps the bundle but nothing runs it.
constexpr uint32_t kBundleCharacteristics = 0x40000040;
// GetLastSectionEnd clears bit 31 of the end offset, so a bundle must end below it.
constexpr uint64_t kMaxFileSize = 0x7FFFFFFF;
// Wine maps a section straight from the file only when the section's file
// offset is a multiple of the page size; otherwise it reads the whole section
// into memory when the image loads, which for the bundle is the whole
// product. Windows maps image sections lazily either way.
constexpr uint32_t kBundleDataAlignment = 0x1000;

void Put16(std::vector<uint8_t>& b, uint64_t off, uint16_t v) {
  b[off] = static_cast<uint8_t>(v);
  b[off + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, uint64_t off, uint32_t v) {
  ByteReader::StoreU32(b.data() + off, v);
}

uint64_t AlignUp(uint64_t value, uint32_t alignment) {
  if (alignment == 0) return value;
  return (value + alignment - 1) / alignment * alignment;
}

bool Refuse(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

// The loader sizes a section by VirtualSize, or by its raw size when that is 0;
// some loaders take the raw size when it is the larger one, so the new section
// starts after both.
uint64_t VirtualEnd(const PeSectionFacts& s) {
  return static_cast<uint64_t>(s.virtualAddress) + std::max(s.virtualSize, s.sizeOfRawData);
}

// Lowest raw-data offset of any section with raw data: the header slack ends there.
uint64_t FirstRawData(const PeFacts& facts, uint64_t fallback) {
  uint64_t first = fallback;
  for (const PeSectionFacts& s : facts.sections) {
    if (s.sizeOfRawData != 0 && s.pointerToRawData != 0) {
      first = std::min<uint64_t>(first, s.pointerToRawData);
    }
  }
  return first;
}

}  // namespace

bool ReadPeFacts(const std::vector<uint8_t>& image, PeFacts* facts, std::string* error) {
  const ByteReader r(image.data(), image.size());
  PeFacts f;
  if (!r.Equals(0, "MZ", 2)) return Refuse(error, "not a PE file (no MZ signature)");
  if (!r.U32(pe::kLfanewOffset, &f.ntHeadersOffset)) return Refuse(error, "truncated DOS header");
  if (!r.Equals(f.ntHeadersOffset, "PE\0\0", 4)) {
    return Refuse(error, "not a PE file (no PE signature)");
  }
  const uint64_t nt = f.ntHeadersOffset;
  uint16_t sectionCount = 0, optionalSize = 0, magic = 0;
  if (!r.U16(nt + pe::kMachineField, &f.machine) || !r.U16(nt + pe::kSectionCountField, &sectionCount) ||
      !r.U16(nt + pe::kOptionalSizeField, &optionalSize)) {
    return Refuse(error, "truncated file header");
  }
  if (f.machine != kMachineI386 && f.machine != kMachineAmd64) {
    return Refuse(error, "unsupported machine type");
  }
  const uint64_t opt = nt + pe::kOptionalHeader;
  if (!r.U16(opt, &magic)) return Refuse(error, "truncated optional header");
  if (magic != kMagicPe32 && magic != kMagicPe32Plus) {
    return Refuse(error, "unknown optional header magic");
  }
  f.pe32Plus = magic == kMagicPe32Plus;
  if ((f.machine == kMachineAmd64) != f.pe32Plus) {
    return Refuse(error, "machine and optional header kind disagree");
  }
  const uint64_t rvaCountOffset = opt + (f.pe32Plus ? 108 : 92);
  const uint64_t directoryOffset = opt + (f.pe32Plus ? 112 : 96);
  uint32_t rvaCount = 0;
  if (!r.Contains(opt, optionalSize) || optionalSize < rvaCountOffset + 4 - opt ||
      !r.U32(opt + 32, &f.sectionAlignment) || !r.U32(opt + 36, &f.fileAlignment) ||
      !r.U32(opt + pe::kSizeOfImageField, &f.sizeOfImage) || !r.U32(opt + 60, &f.sizeOfHeaders) ||
      !r.U32(opt + pe::kCheckSumField, &f.checkSum) || !r.U32(rvaCountOffset, &rvaCount)) {
    return Refuse(error, "truncated optional header");
  }
  const uint64_t certEntry = directoryOffset + 8 * kCertificateEntry;
  if (rvaCount > kCertificateEntry && certEntry + 8 <= opt + optionalSize) {
    f.hasCertificateEntry = true;
    r.U32(certEntry, &f.certificateOffset);
    r.U32(certEntry + 4, &f.certificateSize);
  }
  f.optionalHeaderOffset = static_cast<uint32_t>(opt);
  const uint64_t table = opt + optionalSize;
  if (!r.Contains(table, static_cast<uint64_t>(sectionCount) * kSectionHeaderSize)) {
    return Refuse(error, "section table runs past the end of the file");
  }
  f.sectionTableOffset = static_cast<uint32_t>(table);
  for (uint16_t i = 0; i < sectionCount; ++i) {
    const uint64_t h = table + static_cast<uint64_t>(i) * kSectionHeaderSize;
    PeSectionFacts s;
    char name[9] = {};
    r.Bytes(h, name, 8);
    s.name = name;
    r.U32(h + 8, &s.virtualSize);
    r.U32(h + 12, &s.virtualAddress);
    r.U32(h + pe::kRawSizeField, &s.sizeOfRawData);
    r.U32(h + pe::kRawPointerField, &s.pointerToRawData);
    f.sections.push_back(s);
  }
  *facts = f;
  return true;
}

bool AddBundleSection(std::vector<uint8_t>* image, const std::vector<uint8_t>& chain,
                      std::string* error) {
  if (image == nullptr) return Refuse(error, "no image");
  PeFacts f;
  if (!ReadPeFacts(*image, &f, error)) return false;
  if (f.hasCertificateEntry && (f.certificateOffset != 0 || f.certificateSize != 0)) {
    return Refuse(error, "the executable carries a certificate table; use an unsigned stub");
  }
  if (chain.empty()) return Refuse(error, "the bundle is empty");
  if (f.sections.empty()) return Refuse(error, "the executable has no sections");
  if (f.sections.back().name == kBundleSectionName) {
    return Refuse(error, "the executable already has a bundle section");
  }
  if (f.sections.size() >= 0xFFFF) return Refuse(error, "too many sections");
  if (f.sectionAlignment == 0 || f.fileAlignment == 0) {
    return Refuse(error, "zero section or file alignment");
  }

  // The new header goes right after the table, into the header slack; the
  // slack must be unused so that nothing the loader reads is overwritten.
  const uint64_t newHeader =
      static_cast<uint64_t>(f.sectionTableOffset) + f.sections.size() * kSectionHeaderSize;
  const uint64_t slackEnd =
      std::min<uint64_t>(FirstRawData(f, image->size()), f.sizeOfHeaders);
  if (newHeader + kSectionHeaderSize > slackEnd) {
    return Refuse(error, "no room for another section header before the first section's data");
  }
  for (uint64_t i = 0; i < kSectionHeaderSize; ++i) {
    if ((*image)[newHeader + i] != 0) {
      return Refuse(error, "the header slack for the new section header is not empty");
    }
  }

  // The section whose raw data ends last: when the file ends with it, the
  // padding up to the bundle joins its raw data, so that no byte of the file
  // lies outside the headers and sections (Authenticode hashers differ on
  // whether they hash such gaps). Data after the sections stays a gap.
  uint64_t rawEnd = 0;
  size_t lastRaw = f.sections.size();
  for (size_t i = 0; i < f.sections.size(); ++i) {
    const PeSectionFacts& s = f.sections[i];
    const uint64_t end = static_cast<uint64_t>(s.pointerToRawData) + s.sizeOfRawData;
    if (s.sizeOfRawData != 0 && end >= rawEnd) {
      rawEnd = end;
      lastRaw = i;
    }
  }
  const bool padLastRaw = lastRaw < f.sections.size() && rawEnd == image->size();
  rawEnd = std::max<uint64_t>(rawEnd, image->size());
  const uint64_t pointerToRawData =
      AlignUp(rawEnd, std::max(f.fileAlignment, kBundleDataAlignment));
  if (padLastRaw) {
    // Its VirtualSize grows along when the padded raw data passes it, so that
    // every loader maps all of the raw data (the rest of the pages are zero).
    PeSectionFacts& s = f.sections[lastRaw];
    s.sizeOfRawData += static_cast<uint32_t>(pointerToRawData - rawEnd);
    if (s.virtualSize != 0) s.virtualSize = std::max(s.virtualSize, s.sizeOfRawData);
  }
  uint64_t virtualEnd = 0;
  for (const PeSectionFacts& s : f.sections) virtualEnd = std::max(virtualEnd, VirtualEnd(s));
  const uint64_t virtualAddress = AlignUp(virtualEnd, f.sectionAlignment);
  const uint64_t fileSize = pointerToRawData + chain.size();
  const uint64_t sizeOfImage = virtualAddress + chain.size();
  if (fileSize > kMaxFileSize || sizeOfImage > 0xFFFFFFFFull) {
    return Refuse(error, "the executable with its bundle would be too large");
  }

  std::vector<uint8_t> out(*image);
  out.resize(static_cast<size_t>(pointerToRawData), 0);
  out.insert(out.end(), chain.begin(), chain.end());

  if (padLastRaw) {
    const uint64_t padded = f.sectionTableOffset + lastRaw * kSectionHeaderSize;
    Put32(out, padded + 8, f.sections[lastRaw].virtualSize);
    Put32(out, padded + pe::kRawSizeField, f.sections[lastRaw].sizeOfRawData);
  }
  uint8_t* h = out.data() + newHeader;
  std::memcpy(h, kBundleSectionName, sizeof(kBundleSectionName));  // NUL-padded to 8
  Put32(out, newHeader + 8, static_cast<uint32_t>(chain.size()));   // VirtualSize
  Put32(out, newHeader + 12, static_cast<uint32_t>(virtualAddress));
  Put32(out, newHeader + pe::kRawSizeField, static_cast<uint32_t>(chain.size()));  // unrounded
  Put32(out, newHeader + pe::kRawPointerField, static_cast<uint32_t>(pointerToRawData));
  Put32(out, newHeader + 36, kBundleCharacteristics);

  Put16(out, f.ntHeadersOffset + pe::kSectionCountField, static_cast<uint16_t>(f.sections.size() + 1));
  Put32(out, f.optionalHeaderOffset + pe::kSizeOfImageField, static_cast<uint32_t>(sizeOfImage));
  Put32(out, f.optionalHeaderOffset + pe::kCheckSumField, 0);  // CheckSum: stale now; signers recompute it
  image->swap(out);
  return true;
}
