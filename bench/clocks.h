#pragma once

#include <ctime>

// Clocks the benchmarks read, in nanoseconds.
namespace benchclock {

inline long long read(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

inline long long monotonicNs()
{
    return read(CLOCK_MONOTONIC);
}
// CPU time of the calling thread only: work done by a helper thread is not counted.
inline long long threadCpuNs()
{
    return read(CLOCK_THREAD_CPUTIME_ID);
}
inline long long processCpuNs()
{
    return read(CLOCK_PROCESS_CPUTIME_ID);
}

} // namespace benchclock
