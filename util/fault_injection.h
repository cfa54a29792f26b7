// A test seam in the platform layer: once armed, the Nth file-system call
// (counted over every site below) fails as if the system had refused it.
// Unarmed it only counts, so a test can learn how many calls a run makes.
#pragma once

#include <cstdint>

enum class FaultSite { kOpen, kRead, kWrite, kCreateDirectory, kRename, kDelete };

// failAt: 1-based call number to fail; 0 fails nothing. Resets the count.
void ArmFaultInjection(uint64_t failAt);
uint64_t FaultCallCount();
// True (and `site` set) when the armed call has been reached and failed.
bool FaultWasInjected(FaultSite* site);

// Called by the platform layer before each operation; true: fail it.
bool InjectFault(FaultSite site);
