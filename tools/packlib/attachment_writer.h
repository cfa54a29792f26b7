// Writer of attachment chains: each attachment is its data masked with 0xA7
// followed by a 28-byte trailer (MD5 of the plain data, u32 size, 4-character
// type, "ABD2"). Works on in-memory buffers; callers write the files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bundle/attachment_chain.h"  // the format's constants, shared with the readers

// Appends one attachment to `chain`. Refuses (false, `chain` unchanged) a type
// that is not exactly four characters or data of 4 GiB or more.
bool AppendAttachment(std::vector<uint8_t>* chain, const std::string& type,
                      const uint8_t* data, size_t size);
bool AppendAttachment(std::vector<uint8_t>* chain, const std::string& type,
                      const std::string& data);

// Replaces the data of an attachment already stored in `buffer` whose data
// starts at `dataOffset`: the new plain data must have the stored size, and
// the trailer behind it must carry the magic and that size. The data is
// masked again and the trailer's digest recomputed. False leaves `buffer`
// unchanged.
bool RewriteAttachmentData(std::vector<uint8_t>* buffer, uint64_t dataOffset,
                           const std::string& data);
