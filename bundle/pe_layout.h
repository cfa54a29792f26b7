// Readers of the PE headers that tell where an attachment chain ends inside an
// executable, and which header bytes change when a bundle section is added.
// None of them reads outside the file; each opens its own view and releases it.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "util/platform.h"

// (file offset, length), both unsigned 32-bit.
using HeaderRange = std::pair<uint32_t, uint32_t>;
using RangeList = std::vector<HeaderRange>;

// File offset just past the raw data of the last section, with bit 31 cleared;
// -1 when the file is closed, unreadable or not a PE image whose NT headers and
// whole section table lie inside the file. Reads only the headers. On failure
// prints "Error reading file", "Invalid DOS Sig" or "Invalid NT Sig" to standard
// output (no line end). Leaves the file position undefined: seek before use.
int32_t GetLastSectionEnd(File& file);

// How many bytes at the end of the file lie after the end of the attachment
// chain; 0 (chain ends at end of file) on every failure. `fileSize` 0 means
// "query it". Mode 1 is certificate-aware for i386 images: the chain then ends
// just after the last "ABD2" magic before the padding that precedes the
// certificate table.
uint32_t GetAppendedDataSize(File& file, uint32_t fileSize, uint16_t mode);

// Appends the five header ranges that adding a bundle section changes
// (NumberOfSections, SizeOfImage, CheckSum, certificate-table entry, the last
// section header slack) and returns true; on false nothing is appended.
bool CollectVolatileHeaderRanges(File& file, RangeList* ranges);
