// The process's own memory as the kernel counts it, for the tests and
// benchmarks that bound what a call may claim: the resident size now and its
// high-water mark since the last reset.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>

// A value in kB from /proc/self/status ("VmRSS", "VmHWM"), or -1.
inline long status_kb(const char* field) {
    FILE* file = std::fopen("/proc/self/status", "r");
    if (!file) {
        return -1;
    }
    char line[256];
    long value = -1;
    const size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, file)) {
        if (std::strncmp(line, field, length) == 0 && line[length] == ':') {
            value = std::strtol(line + length + 1, nullptr, 10);
            break;
        }
    }
    std::fclose(file);
    return value;
}

// Starts VmHWM afresh from the current resident size; false where the kernel
// does not allow it.
inline bool reset_peak() {
    FILE* file = std::fopen("/proc/self/clear_refs", "w");
    if (!file) {
        return false;
    }
    const bool ok = std::fputs("5", file) >= 0;
    return std::fclose(file) == 0 && ok;
}
