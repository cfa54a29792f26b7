#include "util/fault_injection.h"

#include <atomic>
#include <new>

namespace {
std::atomic<uint64_t> g_calls{0};
std::atomic<uint64_t> g_failAt{0};
std::atomic<int> g_injected{-1};
std::atomic<bool> g_throw{false};
}  // namespace

void ArmFaultInjection(uint64_t failAt, FaultEffect effect) {
  g_calls.store(0);
  g_injected.store(-1);
  g_throw.store(effect == FaultEffect::kThrow);
  g_failAt.store(failAt);
}

uint64_t FaultCallCount() { return g_calls.load(); }

bool FaultWasInjected(FaultSite* site) {
  const int injected = g_injected.load();
  if (injected < 0) return false;
  *site = static_cast<FaultSite>(injected);
  return true;
}

bool InjectFault(FaultSite site) {
  const uint64_t call = g_calls.fetch_add(1, std::memory_order_relaxed) + 1;
  if (call != g_failAt.load(std::memory_order_relaxed)) return false;
  g_injected.store(static_cast<int>(site));
  if (g_throw.load()) throw std::bad_alloc();
  return true;
}
