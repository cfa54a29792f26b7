// On-disk facts of PE images that the stub's readers and the packer's
// section writer share, so the two can never disagree on a field.
#pragma once

#include <cstdint>

namespace pe {

constexpr uint16_t kMachineI386 = 0x014C;
constexpr uint16_t kMachineAmd64 = 0x8664;

constexpr uint64_t kLfanewOffset = 0x3C;       // in the DOS header
constexpr uint64_t kSectionHeaderSize = 40;

// Offsets relative to e_lfanew.
constexpr uint64_t kMachineField = 4;
constexpr uint64_t kSectionCountField = 6;
constexpr uint64_t kOptionalSizeField = 20;
constexpr uint64_t kOptionalHeader = 24;       // "PE\0\0" + file header

// Offsets relative to the optional header.
constexpr uint64_t kSizeOfImageField = 56;
constexpr uint64_t kCheckSumField = 64;
constexpr uint64_t kCertDirPe32 = 128;         // data directory entry 4
constexpr uint64_t kCertDirPe32Plus = 144;

// Offsets inside a section header.
constexpr uint64_t kRawSizeField = 16;
constexpr uint64_t kRawPointerField = 20;

// The section that carries the stub's attachment chain; always the last one.
constexpr char kBundleSectionName[] = ".QXBNDL";

}  // namespace pe
