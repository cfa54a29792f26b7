#include "bundle/pe_layout.h"

#include <cstdio>
#include <cwchar>
#include <string>

#include "bundle/pe_format.h"
#include "util/byte_reader.h"

namespace {

constexpr uint16_t kDosMagic = 0x5A4D;          // "MZ"
constexpr uint32_t kNtSignature = 0x00004550;   // "PE\0\0"
constexpr uint32_t kChainMagic = 0x32444241;    // "ABD2", the attachment trailer magic
using pe::kMachineAmd64;
using pe::kMachineI386;
using pe::kSectionHeaderSize;

constexpr uint64_t kDosHeaderSize = 64;
constexpr uint64_t kLfanewOffset = pe::kLfanewOffset;
constexpr uint64_t kFileHeaderEnd = pe::kOptionalHeader;  // signature + IMAGE_FILE_HEADER
constexpr uint64_t kNtHeadersPe32 = 248;         // with a standard optional header
constexpr uint64_t kNtHeadersPe32Plus = 264;
constexpr uint64_t kMaxVolatileSections = 15;
constexpr uint32_t kMinCertificateTable = 0x100;
constexpr uint64_t kMagicSearchPositions = 60;

// Offsets relative to e_lfanew.
constexpr uint64_t kMachineField = pe::kMachineField;
constexpr uint64_t kSectionCountField = pe::kSectionCountField;
constexpr uint64_t kOptionalSizeField = pe::kOptionalSizeField;
constexpr uint64_t kSizeOfImageField = pe::kOptionalHeader + pe::kSizeOfImageField;
constexpr uint64_t kCheckSumField = pe::kOptionalHeader + pe::kCheckSumField;
constexpr uint64_t kCertDirPe32 = pe::kOptionalHeader + pe::kCertDirPe32;
constexpr uint64_t kCertDirPe32Plus = pe::kOptionalHeader + pe::kCertDirPe32Plus;

// Offsets inside a section header.
constexpr uint64_t kRawSizeField = pe::kRawSizeField;
constexpr uint64_t kRawPointerField = pe::kRawPointerField;

static_assert(kNtHeadersPe32 == kFileHeaderEnd + 224, "PE32 optional header is 224 bytes");
static_assert(kNtHeadersPe32Plus == kFileHeaderEnd + 240, "PE32+ optional header is 240 bytes");

// The messages are ASCII; they go out wide when the stream is already wide
// oriented, else narrow, so that a byte-oriented stdout still shows them.
void PrintReaderMessage(const char* text) {
  if (std::fwide(stdout, 0) > 0) {
    std::wstring wide(text, text + std::char_traits<char>::length(text));
    std::fputws(wide.c_str(), stdout);
  } else {
    std::fputs(text, stdout);
  }
  std::fflush(stdout);
}

bool ReadAt(File& file, uint64_t offset, void* buffer, size_t length) {
  return file.Seek(static_cast<int64_t>(offset)) && file.Read(buffer, length) == length;
}

int32_t FailLastSectionEnd(const char* message) {
  PrintReaderMessage(message);
  return -1;
}

// Offset of the real section table and of its last entry; false when the
// image has no sections or the table does not lie inside `fileSize`.
bool LocateLastSectionHeader(uint64_t lfanew, uint16_t sectionCount, uint16_t optionalSize,
                             uint64_t fileSize, uint64_t* tableOffset, uint64_t* lastOffset) {
  if (sectionCount == 0) return false;
  const uint64_t table = lfanew + kFileHeaderEnd + optionalSize;
  const uint64_t tableEnd = table + kSectionHeaderSize * sectionCount;
  if (tableEnd > fileSize) return false;
  *tableOffset = table;
  *lastOffset = table + kSectionHeaderSize * (sectionCount - 1u);
  return true;
}

}  // namespace

int32_t GetLastSectionEnd(File& file) {
  if (!file.IsOpen()) return -1;
  const int64_t signedSize = file.Size();
  if (signedSize < 0) return FailLastSectionEnd("Error reading file");
  const uint64_t fileSize = static_cast<uint64_t>(signedSize);

  uint8_t dos[kDosHeaderSize] = {};
  const size_t dosLength = static_cast<size_t>(fileSize < kDosHeaderSize ? fileSize : kDosHeaderSize);
  if (dosLength == 0 || !ReadAt(file, 0, dos, dosLength)) return FailLastSectionEnd("Error reading file");
  ByteReader dosReader(dos, dosLength);
  uint16_t dosMagic = 0;
  uint32_t lfanew = 0;
  if (!dosReader.U16(0, &dosMagic) || dosMagic != kDosMagic || !dosReader.U32(kLfanewOffset, &lfanew))
    return FailLastSectionEnd("Invalid DOS Sig");

  uint8_t nt[kFileHeaderEnd] = {};
  if (uint64_t{lfanew} + kFileHeaderEnd > fileSize) return FailLastSectionEnd("Invalid NT Sig");
  if (!ReadAt(file, lfanew, nt, sizeof nt)) return FailLastSectionEnd("Error reading file");
  ByteReader ntReader(nt, sizeof nt);
  uint32_t signature = 0;
  uint16_t sectionCount = 0, optionalSize = 0;
  ntReader.U32(0, &signature);
  ntReader.U16(kSectionCountField, &sectionCount);
  ntReader.U16(kOptionalSizeField, &optionalSize);
  uint64_t table = 0, last = 0;
  if (signature != kNtSignature ||
      !LocateLastSectionHeader(lfanew, sectionCount, optionalSize, fileSize, &table, &last))
    return FailLastSectionEnd("Invalid NT Sig");

  uint8_t section[kSectionHeaderSize] = {};
  if (!ReadAt(file, last, section, sizeof section)) return FailLastSectionEnd("Error reading file");
  const uint64_t end = uint64_t{ByteReader::LoadU32(section + kRawPointerField)} +
                       ByteReader::LoadU32(section + kRawSizeField);
  return static_cast<int32_t>(end & 0x7FFFFFFFu);
}

uint32_t GetAppendedDataSize(File& file, uint32_t fileSize, uint16_t mode) {
  if (!file.IsOpen()) return 0;
  if (fileSize == 0) {
    const int64_t queried = file.Size();
    if (queried < 0 || queried > static_cast<int64_t>(UINT32_MAX)) return 0;
    fileSize = static_cast<uint32_t>(queried);
  }
  MappedFile view;
  if (!view.Map(file)) return 0;
  // Reads are bounded by the view; the arithmetic uses the size the caller gave.
  const ByteReader image(view.data(), view.size());
  const uint64_t size = fileSize;

  uint16_t dosMagic = 0, machine = 0, sectionCount = 0, optionalSize = 0;
  uint32_t lfanew = 0, signature = 0;
  if (!image.U16(0, &dosMagic) || dosMagic != kDosMagic) return 0;
  if (!image.U32(kLfanewOffset, &lfanew) || lfanew >= size) return 0;
  if (!image.U16(uint64_t{lfanew} + kSectionCountField, &sectionCount)) return 0;
  if (uint64_t{lfanew} + kNtHeadersPe32 + kSectionHeaderSize * sectionCount > size) return 0;
  if (!image.U32(lfanew, &signature) || signature != kNtSignature) return 0;
  if (!image.U16(uint64_t{lfanew} + kMachineField, &machine) ||
      !image.U16(uint64_t{lfanew} + kOptionalSizeField, &optionalSize))
    return 0;

  uint64_t table = 0, last = 0;
  uint32_t rawPointer = 0, rawSize = 0;
  if (!LocateLastSectionHeader(lfanew, sectionCount, optionalSize, image.size(), &table, &last) ||
      !image.U32(last + kRawPointerField, &rawPointer) || !image.U32(last + kRawSizeField, &rawSize))
    return 0;
  const uint64_t end = uint64_t{rawPointer} + rawSize;

  uint32_t certOffset = 0, certSize = 0;
  if (machine == kMachineI386) {
    if (!image.U32(uint64_t{lfanew} + kCertDirPe32, &certOffset) ||
        !image.U32(uint64_t{lfanew} + kCertDirPe32 + 4, &certSize))
      return 0;
    if (certSize <= kMinCertificateTable || end >= size) return 0;
    if (mode != 1) return static_cast<uint32_t>(size - end);
    // The chain ends at the last trailer's magic; between it and the
    // certificate table lies up to 7 bytes of alignment padding.
    const uint64_t c = certOffset;
    if (c > size) return 0;
    for (uint64_t i = 0; i < kMagicSearchPositions && c >= 4 + i; ++i) {
      uint32_t word = 0;
      if (image.U32(c - 4 - i, &word) && word == kChainMagic)
        return static_cast<uint32_t>(size - (c - i));
    }
    return 0;
  }
  if (machine == kMachineAmd64) {
    if (!image.U32(uint64_t{lfanew} + kCertDirPe32Plus + 4, &certSize)) return 0;
    if (certSize <= kMinCertificateTable) return 0;
    return end < size ? static_cast<uint32_t>(size - end) : 0;
  }
  return 0;
}

bool CollectVolatileHeaderRanges(File& file, RangeList* ranges) {
  if (!ranges || !file.IsOpen()) return false;
  MappedFile view;
  if (!view.Map(file)) return false;
  const ByteReader image(view.data(), view.size());
  const uint64_t size = view.size();

  uint16_t dosMagic = 0, machine = 0, sectionCount = 0, optionalSize = 0;
  uint32_t lfanew = 0, signature = 0;
  if (!image.U16(0, &dosMagic) || dosMagic != kDosMagic) return false;
  if (!image.U32(kLfanewOffset, &lfanew) || lfanew >= size) return false;
  if (!image.U16(uint64_t{lfanew} + kSectionCountField, &sectionCount) ||
      sectionCount > kMaxVolatileSections)
    return false;
  if (!image.U32(lfanew, &signature) || signature != kNtSignature) return false;
  if (!image.U16(uint64_t{lfanew} + kMachineField, &machine)) return false;
  if (machine != kMachineI386 && machine != kMachineAmd64) return false;
  if (!image.U16(uint64_t{lfanew} + kOptionalSizeField, &optionalSize)) return false;

  uint64_t table = 0, last = 0;
  if (!LocateLastSectionHeader(lfanew, sectionCount, optionalSize, size, &table, &last)) return false;
  uint32_t firstRaw = 0;
  char name[9] = {};
  if (!image.U32(table + kRawPointerField, &firstRaw) || !image.Bytes(last, name, 8)) return false;
  const bool isBundle = std::string(name) == pe::kBundleSectionName;

  const bool pe32 = machine == kMachineI386;
  const uint64_t e = lfanew;
  // L: where the last section header sits in an image with a standard
  // optional header; F: where the first section's raw data begins.
  const uint64_t lastHeader =
      e + (pe32 ? kNtHeadersPe32 : kNtHeadersPe32Plus) + kSectionHeaderSize * (sectionCount - 1u);
  const uint64_t slackStart = isBundle ? lastHeader : lastHeader + kSectionHeaderSize;
  if (firstRaw < slackStart) return false;

  const uint64_t found[5][2] = {
      {e + kSectionCountField, 2},
      {e + kSizeOfImageField, 4},
      {e + kCheckSumField, 4},
      {e + (pe32 ? kCertDirPe32 : kCertDirPe32Plus), 8},
      {slackStart, firstRaw - slackStart},
  };
  for (const auto& range : found) {
    if (!image.Contains(range[0], range[1]) || range[0] + range[1] > UINT32_MAX) return false;
  }
  for (const auto& range : found)
    ranges->emplace_back(static_cast<uint32_t>(range[0]), static_cast<uint32_t>(range[1]));
  return true;
}
