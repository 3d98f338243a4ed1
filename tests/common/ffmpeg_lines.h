// What the PNG loader itself wrote to standard error, told apart from FFmpeg's
// own log lines ("[png @ 0x...] ..."), which are the library's.
#pragma once

#include <string>

// The lines of `text` that do not start with '[', each with its line end.
inline std::string without_ffmpeg_lines(const std::string& text) {
    std::string ours;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        if (text[start] != '[') {
            ours.append(text, start, end - start);
        }
        start = end;
    }
    return ours;
}
