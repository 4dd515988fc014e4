// Timing and memory readings shared by the benchmarks (Linux).
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Seconds on a steady clock.
inline double Now()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

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
