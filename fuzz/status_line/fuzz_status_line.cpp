// The status file reader (read_progress) on any file content. Besides the
// sanitizers' checks, every result is compared with a plain reading of the
// status line's rules, written here without the reader's bounded-memory
// tricks, and must meet the invariants of a shown value.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "../scratch.h"
#include "progress.h"

namespace {

const Progress previous_value{"error", 7, 9, "the previous value"};

// The message's first 400 bytes less a character cut in two. Walked from
// the start, a character is a lead byte with all the continuation bytes it
// announces; any other byte stands alone.
std::string cut_message(const std::string& message) {
    size_t kept = 0;
    while (kept < message.size()) {
        const unsigned char lead = static_cast<unsigned char>(message[kept]);
        size_t length = 1;
        if (lead >= 0xc0 && lead <= 0xf7)
            length = lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : 2;
        for (size_t i = 1; i < length; ++i) {
            if (kept + i >= message.size() ||
                (static_cast<unsigned char>(message[kept + i]) & 0xc0) != 0x80)
                length = 1;
        }
        if (kept + length > status_message_limit)
            break;
        kept += length;
    }
    return message.substr(0, kept);
}

// What the rules give for the whole first line, or the previous value.
Progress by_the_rules(const std::string& content, bool& held_whole_would_differ) {
    held_whole_would_differ = false;
    if (content.empty())
        return previous_value;
    std::string line = content.substr(0, content.find('\n'));
    if (line.size() < content.size() && !line.empty() && line.back() == '\r')
        line.pop_back();

    const size_t tab1 = line.find('\t');
    const size_t tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
    const size_t tab3 = tab2 == std::string::npos ? tab2 : line.find('\t', tab2 + 1);
    if (tab3 == std::string::npos || tab3 + 1 == line.size())
        return previous_value;
    // The reader holds at most status_line_limit bytes of a line; a longer
    // line counts only when the held part already has the message's first
    // 400 bytes and the three after them.
    if (line.size() > status_line_limit && tab3 + 1 + status_message_limit + 3 > status_line_limit)
        held_whole_would_differ = true;

    const std::string state = line.substr(0, tab1);
    if (state != "working" && state != "success" && state != "error")
        return previous_value;
    int completed = 0;
    int total = 0;
    try {
        completed = std::stoi(line.substr(tab1 + 1, tab2 - tab1 - 1));
        total = std::stoi(line.substr(tab2 + 1, tab3 - tab2 - 1));
    } catch (const std::exception&) {
        return previous_value;
    }
    if (completed < 0 || completed > total || total < 1 || total > 10000)
        return previous_value;
    return Progress{state, completed, total, cut_message(line.substr(tab3 + 1))};
}

bool same(const Progress& a, const Progress& b) {
    return a.state == b.state && a.completed == b.completed && a.total == b.total &&
           a.message == b.message;
}

void fail(const char* what) {
    std::fprintf(stderr, "fuzz_status_line: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzz::MemoryFile file("status");
    file.fill(data, size);

    const Progress read = read_progress(file.path.c_str(), previous_value);

    const bool shown_state =
        read.state == "working" || read.state == "success" || read.state == "error";
    if (!shown_state || read.total < 1 || read.total > 10000 || read.completed < 0 ||
        read.completed > read.total || read.message.empty() ||
        read.message.size() > status_message_limit)
        fail("a value the screen may not show");

    bool held_whole_would_differ = false;
    const Progress expected = by_the_rules(std::string(reinterpret_cast<const char*>(data), size),
                                           held_whole_would_differ);
    if (held_whole_would_differ) {
        if (!same(read, previous_value))
            fail("a line too long to hold was taken");
    } else if (!same(read, expected)) {
        fail("the reader and the rules disagree");
    }
    return 0;
}
