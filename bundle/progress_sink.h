// Progress sink called by extraction: shows base + part percent.
// Defined by the executable that links the core (the stub's progress dialog,
// the packer, the tests), not by the core itself.
#pragma once

#include <cstdint>

void ReportProgress(int32_t base, int32_t part);
