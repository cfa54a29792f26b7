// A test seam in the platform layer: once armed, the Nth file-system call
// (counted over every site below) fails as if the system had refused it.
// Unarmed it only counts, so a test can learn how many calls a run makes.
#pragma once

#include <cstdint>

enum class FaultSite { kOpen, kRead, kWrite, kCreateDirectory, kRename, kDelete };

// How the armed call fails: refused as by the system, or by throwing
// std::bad_alloc, as an allocation deep inside it could (for the paths that
// must survive an exception while another thread is at work).
enum class FaultEffect { kRefuse, kThrow };

// failAt: 1-based call number to fail; 0 fails nothing. Resets the count.
void ArmFaultInjection(uint64_t failAt, FaultEffect effect = FaultEffect::kRefuse);
uint64_t FaultCallCount();
// True (and `site` set) when the armed call has been reached and failed.
bool FaultWasInjected(FaultSite* site);

// Called by the platform layer before each operation; true: fail it. Throws
// std::bad_alloc instead when armed with FaultEffect::kThrow.
bool InjectFault(FaultSite site);
