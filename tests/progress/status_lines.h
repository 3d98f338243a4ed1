#pragma once
// The status lines that the torn-write test's writer cycles through. Each
// line's total is unique, so a value read back names the one line it must
// have come from, field by field.
#include <string>

constexpr int status_line_count = 50;

inline int status_line_total(int k) {
    return 10 + k;
}
inline int status_line_completed(int k) {
    return k % 11;
}

inline const char* status_line_state(int k) {
    static const char* const states[] = {"working", "success", "error"};
    return states[k % 3];
}

// Some messages are longer than the 400-byte cut; all carry tabs.
inline std::string status_line_message(int k) {
    std::string message =
        std::string(1, static_cast<char>('A' + k % 26)) + "-" + std::to_string(k) + " ";
    const std::size_t length = 20 + (static_cast<std::size_t>(k) * 37) % 600;
    while (message.size() < length)
        message += (message.size() % 17 == 0) ? '\t' : static_cast<char>('a' + message.size() % 26);
    return message;
}

// Every tenth line pads its completed count with blanks past the first 4 KiB
// of the file, so that reading its fields takes more than one block.
inline std::string status_line(int k) {
    const std::string padding(k % 10 == 9 ? 4100 + 50 * k : 0, ' ');
    return std::string(status_line_state(k)) + "\t" + padding +
           std::to_string(status_line_completed(k)) + "\t" + std::to_string(status_line_total(k)) +
           "\t" + status_line_message(k);
}
