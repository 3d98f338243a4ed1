#pragma once
// The status file that the caller writes, and the value the progress screen shows.
#include <cstddef>
#include <cstdint>
#include <string>

struct Progress {
    std::string state = "working";
    int32_t completed = 0;
    int32_t total = 5;
    std::string message = "Starting update...";
};

// How many bytes of the first line are held at most, so that a caller who
// writes a line without a line feed, or a gigantic one, costs no more memory
// or time than this. A line reads exactly as if held whole when it is no
// longer than this, or when its state, its two counts and their three tabs
// take no more than status_line_limit - 403 bytes (the message is cut to 400
// bytes anyway, and the three after them only tell whether a character runs
// across the cut); any other line is refused like a faulty one.
constexpr std::size_t status_line_limit = 64 * 1024;

// The message is cut to this many bytes, or to fewer where the cut would
// split a UTF-8 character.
constexpr std::size_t status_message_limit = 400;

// Reads the status file (named in UTF-8) first line; any fault gives back
// `previous` whole.
// Never throws and reports nothing.
Progress read_progress(const char* status_path, Progress previous);
