// Timing and memory readings shared by the benchmarks: Linux, and Windows for
// the benchmarks that run there too.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "windows_api.h"

#ifdef _WIN32
#include <psapi.h>
#endif

// Seconds on a steady clock.
inline double Now()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

#ifndef _WIN32
// A "Vm...:" field of /proc/self/status in KiB, or -1.
inline long StatusKiB(const char* field)
{
    FILE* f = fopen("/proc/self/status", "r");
    if (f == nullptr)
        return -1;
    char line[256];
    long value = -1;
    size_t len = strlen(field);
    while (fgets(line, sizeof line, f) != nullptr)
        if (strncmp(line, field, len) == 0)
            value = atol(line + len + 1);
    fclose(f);
    return value;
}

// Resets the peak resident size so VmHWM measures only what follows.
inline void ResetPeak()
{
    FILE* f = fopen("/proc/self/clear_refs", "w");
    if (f != nullptr) {
        fputs("5", f);
        fclose(f);
    }
}
#endif

// How far the resident size rises above where it stood at Start. Linux resets
// the kernel's high-water mark and reads it back: exact. Windows cannot reset
// its peak, so Sample, called as the work goes (after each block), keeps the
// highest reading, and a peak that rose past the earlier one counts too.
class PeakWatch {
public:
    void Start()
    {
#ifdef _WIN32
        PROCESS_MEMORY_COUNTERS counters;
        Read(&counters);
        m_before = counters.WorkingSetSize;
        m_peakBefore = counters.PeakWorkingSetSize;
        m_highest = m_before;
#else
        m_before = StatusKiB("VmRSS:");
        ResetPeak();
#endif
    }

    void Sample()
    {
#ifdef _WIN32
        PROCESS_MEMORY_COUNTERS counters;
        Read(&counters);
        if (counters.WorkingSetSize > m_highest)
            m_highest = counters.WorkingSetSize;
#endif
    }

    double GrowthMiB()
    {
#ifdef _WIN32
        PROCESS_MEMORY_COUNTERS counters;
        Read(&counters);
        size_t highest = m_highest;
        if (counters.PeakWorkingSetSize > m_peakBefore && counters.PeakWorkingSetSize > highest)
            highest = counters.PeakWorkingSetSize;
        return (highest - m_before) / 1048576.0;
#else
        return (StatusKiB("VmHWM:") - m_before) / 1024.0;
#endif
    }

private:
#ifdef _WIN32
    static void Read(PROCESS_MEMORY_COUNTERS* counters)
    {
        memset(counters, 0, sizeof *counters);
        counters->cb = sizeof *counters;
        GetProcessMemoryInfo(GetCurrentProcess(), counters, sizeof *counters);
    }
    size_t m_before = 0, m_peakBefore = 0, m_highest = 0;
#else
    long m_before = 0;
#endif
};
