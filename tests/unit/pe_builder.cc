#include "pe_builder.h"

#include <algorithm>

namespace {

uint32_t AlignUp(uint32_t value, uint32_t alignment) {
  return alignment ? (value + alignment - 1) / alignment * alignment : value;
}

void PutBytes(Bytes& b, uint64_t off, const Bytes& data) {
  if (b.size() < off + data.size()) b.resize(off + data.size());
  std::copy(data.begin(), data.end(), b.begin() + static_cast<std::ptrdiff_t>(off));
}

}  // namespace

bool PeImage::IsPe32Plus() const {
  return bytes.size() >= optionalHeaderOffset + 2u && bytes[optionalHeaderOffset] == 0x0B &&
         bytes[optionalHeaderOffset + 1] == 0x02;
}

PeImage BuildPe(const PeRecipe& recipe) {
  PeImage image;
  Bytes& b = image.bytes;
  const uint16_t optionalSize = recipe.pe32plus ? 240 : 224;
  const uint16_t machine = recipe.machine ? recipe.machine : (recipe.pe32plus ? 0x8664 : 0x014C);
  const uint32_t sectionCount = static_cast<uint32_t>(recipe.sections.size());

  image.ntOffset = recipe.lfanew;
  image.optionalHeaderOffset = recipe.lfanew + 24;
  image.sectionTableOffset = image.optionalHeaderOffset + optionalSize;
  const uint32_t headersSize = AlignUp(image.sectionTableOffset + 40 * sectionCount, recipe.fileAlignment);
  b.assign(headersSize, 0);

  // DOS header.
  b[0] = 'M';
  b[1] = 'Z';
  put32(b, 0x3C, recipe.lfanew);

  // NT signature and file header.
  const uint32_t nt = recipe.lfanew;
  put32(b, nt, 0x00004550);
  put16(b, nt + 4, machine);
  put16(b, nt + 6, static_cast<uint16_t>(sectionCount));
  put16(b, nt + 20, optionalSize);
  put16(b, nt + 22, recipe.pe32plus ? 0x0022 : 0x0102);

  // Optional header (fields that tools and loaders look at).
  const uint32_t opt = image.optionalHeaderOffset;
  put16(b, opt, recipe.pe32plus ? 0x020B : 0x010B);
  put32(b, opt + 32, recipe.sectionAlignment);
  put32(b, opt + 36, recipe.fileAlignment);
  put16(b, opt + 40, 5);  // operating system version 5.01
  put16(b, opt + 42, 1);
  put16(b, opt + 48, 5);  // subsystem version 5.01
  put16(b, opt + 50, 1);
  put32(b, opt + 60, headersSize);
  put16(b, opt + 68, 2);  // GUI
  put32(b, opt + (recipe.pe32plus ? 108 : 92), 16);

  // Sections.
  uint32_t raw = headersSize;
  uint32_t virtualAddress = AlignUp(headersSize, recipe.sectionAlignment);
  uint32_t imageSize = virtualAddress;
  for (uint32_t i = 0; i < sectionCount; ++i) {
    const PeSection& s = recipe.sections[i];
    const uint32_t dataSize = static_cast<uint32_t>(s.data.size());
    const uint32_t rawSize = s.exactRawSize ? dataSize : AlignUp(dataSize, recipe.fileAlignment);
    const uint32_t header = image.SectionHeader(i);
    for (size_t c = 0; c < 8 && c < s.name.size(); ++c) b[header + c] = static_cast<uint8_t>(s.name[c]);
    put32(b, header + 8, dataSize);
    put32(b, header + 12, virtualAddress);
    put32(b, header + 16, rawSize);
    put32(b, header + 20, raw);
    put32(b, header + 36, 0x40000040);  // initialised data, readable
    PutBytes(b, raw, s.data);
    b.resize(raw + rawSize, 0);
    image.rawPointer.push_back(raw);
    image.rawSize.push_back(rawSize);
    imageSize = s.exactRawSize ? virtualAddress + dataSize : virtualAddress + AlignUp(dataSize, recipe.sectionAlignment);
    virtualAddress += AlignUp(std::max<uint32_t>(dataSize, 1), recipe.sectionAlignment);
    raw += rawSize;
  }
  put32(b, opt + 56, imageSize);
  image.lastSectionEnd = raw;

  image.overlayOffset = static_cast<uint32_t>(b.size());
  appendBytes(b, recipe.overlay.data(), recipe.overlay.size());
  if (!recipe.certificate.empty()) {
    if (recipe.padCertificateTo8) b.resize(AlignUp(static_cast<uint32_t>(b.size()), 8), 0);
    image.certificateOffset = static_cast<uint32_t>(b.size());
    appendBytes(b, recipe.certificate.data(), recipe.certificate.size());
    put32(b, image.CertificateDirectory(), image.certificateOffset);
    put32(b, image.CertificateDirectory() + 4, static_cast<uint32_t>(recipe.certificate.size()));
  }
  image.appendedOffset = static_cast<uint32_t>(b.size());
  appendBytes(b, recipe.appended.data(), recipe.appended.size());
  return image;
}

Bytes MakeCertificateTable(uint32_t size) {
  Bytes table(size, 0x5A);
  if (size >= 8) {
    put32(table, 0, size);
    put16(table, 4, 0x0200);  // WIN_CERT_REVISION_2_0
    put16(table, 6, 0x0002);  // WIN_CERT_TYPE_PKCS_SIGNED_DATA
  }
  return table;
}

Bytes MakeAttachment(const std::string& type, const Bytes& plain) {
  Bytes out;
  for (uint8_t byte : plain) out.push_back(static_cast<uint8_t>(byte ^ 0xA7));
  const Bytes digest = Md5Of(plain);
  appendBytes(out, digest.data(), digest.size());
  append32(out, static_cast<uint32_t>(plain.size()));
  std::string fourCc = type;
  fourCc.resize(4, '\0');
  appendStr(out, fourCc);
  appendStr(out, "ABD2");
  return out;
}

Bytes MakeChain(const std::vector<std::pair<std::string, Bytes>>& attachments) {
  Bytes chain;
  for (const auto& a : attachments) {
    const Bytes one = MakeAttachment(a.first, a.second);
    appendBytes(chain, one.data(), one.size());
  }
  return chain;
}

Bytes PatternBytes(size_t n, uint8_t seed) {
  Bytes out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>((i * 31 + seed * 7 + (i >> 8)) & 0xFF);
  return out;
}
