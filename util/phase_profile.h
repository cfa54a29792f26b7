// Wall time per phase of one installation, for the benchmark only. Compiled in
// with the build option QX_PROFILE_PHASES (bench/run.py --profile); otherwise
// every call is empty and the product is unchanged. With the option, the times
// are appended to the file that the environment variable QX_PHASE_PROFILE
// names, one "phase milliseconds peak-MB" line each (the
// process's peak resident size when the phase ended); nothing goes to the trace.
#pragma once

#ifdef QX_PROFILE_PHASES
// Ends the phase that ran since the previous call (or since the first call).
void ProfilePhase(const char* name);
// Writes the phases measured so far and forgets them.
void ProfileWrite();
#else
inline void ProfilePhase(const char*) {}
inline void ProfileWrite() {}
#endif
