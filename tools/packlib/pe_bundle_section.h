// Adds the bundle section ".QXBNDL" to a PE image held in memory, and reads
// the header facts that the packer checks and shows. Only headers are parsed;
// every offset is bounds-checked against the buffer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PeSectionFacts {
  std::string name;  // up to 8 characters, NULs stripped
  uint32_t virtualSize = 0;
  uint32_t virtualAddress = 0;
  uint32_t sizeOfRawData = 0;
  uint32_t pointerToRawData = 0;
};

struct PeFacts {
  uint32_t ntHeadersOffset = 0;    // e_lfanew
  uint16_t machine = 0;            // 0x014C or 0x8664
  bool pe32Plus = false;
  uint32_t optionalHeaderOffset = 0;
  uint32_t sectionTableOffset = 0;
  uint32_t sectionAlignment = 0;
  uint32_t fileAlignment = 0;
  uint32_t sizeOfImage = 0;
  uint32_t sizeOfHeaders = 0;
  uint32_t checkSum = 0;
  bool hasCertificateEntry = false;  // the data directory has an entry 4
  uint32_t certificateOffset = 0;    // file offset of the certificate table
  uint32_t certificateSize = 0;
  std::vector<PeSectionFacts> sections;
};

// Parses the headers of an i386 or AMD64 PE image. False with a one-line
// reason in `error` when the bytes are not such an image.
bool ReadPeFacts(const std::vector<uint8_t>& image, PeFacts* facts, std::string* error);

// Appends `chain` to `image` as a new last section ".QXBNDL": raw data at the
// end of the file rounded up to the page size (4096) or FileAlignment if
// larger, so that loaders can map it from the file instead of reading it in;
// the zero padding before it joins the raw data (and, where it passes it, the
// VirtualSize) of the section that ends the file, so that the file has no gap
// between sections (an image with data after its sections keeps the padding
// as a gap).
// SizeOfRawData and VirtualSize are the exact chain length, VirtualAddress
// follows every section's virtual and raw size rounded up to
// SectionAlignment, SizeOfImage = VirtualAddress + VirtualSize (unrounded),
// one more section, CheckSum cleared.
// Refuses an image with a certificate table, one that already ends in a
// bundle section, an empty chain, a result of 2 GiB or more, and an image
// whose header slack lacks 40 free (zero) bytes for the new section header
// before the first section's raw data. On failure `image` is unchanged.
bool AddBundleSection(std::vector<uint8_t>* image, const std::vector<uint8_t>& chain,
                      std::string* error);

