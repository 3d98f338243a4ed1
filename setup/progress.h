#pragma once
// The status file that the caller writes, and the value the progress screen shows.
#include <cstdint>
#include <string>

struct Progress {
    std::string state = "working";
    int32_t completed = 0;
    int32_t total = 5;
    std::string message = "Starting update...";
};

// Reads the status file's first line; any fault gives back `previous` whole.
Progress read_progress(const char* status_path, Progress previous);
