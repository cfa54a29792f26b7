// Shared by the fuzz targets: the readers work on files, so each input is
// written to a scratch file (on a memory file system where there is one) and
// the real functions are called on its path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Writes the input to this process's scratch input file and returns its path.
std::wstring WriteInputFile(const uint8_t* data, size_t size);

// A second scratch path in the same place, for files the readers create.
std::wstring ScratchOutputPath();

// Stops the run as a finding when an invariant does not hold.
#define FUZZ_CHECK(condition) \
  do {                        \
    if (!(condition)) __builtin_trap(); \
  } while (0)
