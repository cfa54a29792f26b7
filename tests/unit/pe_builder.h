// Builds small PE32 / PE32+ images in memory for tests: N sections, an
// optional overlay after the last section, an optional certificate table
// (after padding to 8 bytes, as signing tools place it) and appended bytes.
// The result records where every interesting field sits so tests can patch it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

struct PeSection {
  std::string name;           // at most 8 characters
  Bytes data;                 // raw data, stored as given
  bool exactRawSize = false;  // SizeOfRawData = data.size(), not rounded to the file alignment
};

struct PeRecipe {
  bool pe32plus = false;
  uint16_t machine = 0;  // 0: i386 for PE32, AMD64 for PE32+
  uint32_t lfanew = 0x80;
  uint32_t fileAlignment = 0x200;
  uint32_t sectionAlignment = 0x1000;
  std::vector<PeSection> sections;
  Bytes overlay;                 // right after the last section's raw data
  Bytes certificate;             // certificate table; empty: none, directory entry 0
  bool padCertificateTo8 = true;
  Bytes appended;                // after the certificate table (or the overlay)
};

struct PeImage {
  Bytes bytes;
  uint32_t ntOffset = 0;            // e_lfanew
  uint32_t optionalHeaderOffset = 0;
  uint32_t sectionTableOffset = 0;
  std::vector<uint32_t> rawPointer;  // per section
  std::vector<uint32_t> rawSize;
  uint32_t lastSectionEnd = 0;      // rawPointer + rawSize of the last section
  uint32_t overlayOffset = 0;
  uint32_t certificateOffset = 0;   // 0 when there is no table
  uint32_t appendedOffset = 0;

  uint32_t SectionHeader(size_t index) const {
    return sectionTableOffset + 40u * static_cast<uint32_t>(index);
  }
  uint32_t CertificateDirectory() const { return optionalHeaderOffset + (IsPe32Plus() ? 144u : 128u); }
  bool IsPe32Plus() const;
};

PeImage BuildPe(const PeRecipe& recipe);

// A certificate table of `size` bytes (WIN_CERTIFICATE header and filler that
// never contains the attachment magic).
Bytes MakeCertificateTable(uint32_t size);

// One attachment as stored in a chain: masked data, then the 28-byte trailer
// with the MD5 of `plain`.
Bytes MakeAttachment(const std::string& type, const Bytes& plain);

// A chain of attachments in the given order (the last one ends the chain).
Bytes MakeChain(const std::vector<std::pair<std::string, Bytes>>& attachments);

// `n` bytes of a repeating pattern (distinct per seed), for attachment data.
Bytes PatternBytes(size_t n, uint8_t seed = 1);
