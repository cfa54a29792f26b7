// Whole-file helpers for the packer (files it writes are small enough to hold).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

bool ReadFileBytes(const std::wstring& path, std::vector<uint8_t>* out);
bool WriteFileBytes(const std::wstring& path, const std::vector<uint8_t>& data);
