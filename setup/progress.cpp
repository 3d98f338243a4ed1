#include "progress.h"

#include "utf8_paths.h"

#include <cstring>
#include <string>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// The status file, opened for reading only, closed when this goes.
struct StatusFile {
    explicit StatusFile(const char* path) {
#ifdef _WIN32
        // Every kind of sharing: the caller may rewrite the file or delete
        // it while a frame reads it, and where the system lets a file that is
        // open be replaced, rename a new one over it.
        const std::filesystem::path name = path_from_utf8(path);
        if (name.empty())
            return;
        handle = CreateFileW(name.c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        // A pipe or a device would hold the window in a read that waits.
        if (handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_DISK) {
            CloseHandle(handle);
            handle = INVALID_HANDLE_VALUE;
        }
#else
        // Non-blocking, so that a FIFO given as the path cannot hang the
        // window; for a regular file it changes nothing.
        fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
#endif
    }
    ~StatusFile() {
#ifdef _WIN32
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
#else
        if (fd >= 0)
            close(fd);
#endif
    }
    StatusFile(const StatusFile&) = delete;
    StatusFile& operator=(const StatusFile&) = delete;

    bool is_open() const {
#ifdef _WIN32
        return handle != INVALID_HANDLE_VALUE;
#else
        return fd >= 0;
#endif
    }

    // One read call from the start of the file. Two calls could join the
    // start of one line to the rest of the next.
    long read_from_start(char* buffer, std::size_t size) const {
#ifdef _WIN32
        OVERLAPPED from_start = {};
        DWORD got = 0;
        if (!ReadFile(handle, buffer, static_cast<DWORD>(size), &got, &from_start))
            return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
        return static_cast<long>(got);
#else
        return static_cast<long>(pread(fd, buffer, size, 0));
#endif
    }

#ifdef _WIN32
    HANDLE handle = INVALID_HANDLE_VALUE;
#else
    int fd = -1;
#endif
};

struct FirstLine {
    std::string text;  // without the line end
    bool cut = false;  // the line goes on past status_line_limit bytes
};

}  // namespace

// The first `size` bytes of the file, as two reads from its start found them
// both. Even one read call can join two versions of the file: while the
// caller truncates and rewrites it, a read that spans pages may take its first
// page from the old line and the next from the new one. A rewrite that lands
// between or inside the two reads makes them differ; the line is then taken
// as unreadable this time.
static bool read_twice(const StatusFile& file, std::size_t size, std::string& text,
                       std::string& again) {
    text.resize(size);
    again.resize(size);
    const long got = file.read_from_start(&text[0], size);
    if (got <= 0 || file.read_from_start(&again[0], size) != got)
        return false;
    text.resize(static_cast<std::size_t>(got));
    return std::memcmp(text.data(), again.data(), text.size()) == 0;
}

// Holds the file's first line without its line feed, and without a carriage
// return directly before it (the CR LF end of a file written in text mode on
// Windows); any other CR stays where it stands. A first line that fits one
// block, the usual case, costs two small reads whatever the file's size; a
// longer one is read again from the start, twice, in reads of at most
// status_line_limit + 2 bytes, so a line without end costs no more (the two
// bytes more let a line of exactly the limit keep its CR LF end). A longer
// line is cut to the limit. False when nothing at all could be read.
static bool read_first_line(const char* path, FirstLine& line) try {
    const StatusFile file(path);
    if (!file.is_open())
        return false;

    std::string& text = line.text;
    std::string again;
    if (!read_twice(file, 4096, text, again))
        return false;
    if (text.size() == 4096 && !std::memchr(text.data(), '\n', text.size())) {
        if (!read_twice(file, status_line_limit + 2, text, again))
            return false;
    }

    const std::size_t line_feed = text.find('\n');
    if (line_feed != std::string::npos) {
        text.resize(line_feed);
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
    }
    if (text.size() > status_line_limit) {
        text.resize(status_line_limit);
        line.cut = true;
    }
    return true;
} catch (...) {
    return false;  // no memory for the line
}

// How many bytes a UTF-8 sequence that starts with this byte has; 1 for
// bytes that start none.
static std::size_t sequence_length(unsigned char lead) {
    if (lead >= 0xf0 && lead <= 0xf7)
        return 4;
    if (lead >= 0xe0 && lead <= 0xef)
        return 3;
    if (lead >= 0xc0 && lead <= 0xdf)
        return 2;
    return 1;
}

// How many bytes of the message, which starts at `start`, are kept: at most
// status_message_limit, less a character that the limit would cut in two,
// which would be drawn as a replacement glyph. Bytes that form no whole
// character count one by one, as they are drawn.
static std::size_t message_length(const std::string& text, std::size_t start) {
    const std::size_t size = text.size() - start;
    if (size <= status_message_limit)
        return size;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[start + i]); };
    // Only a sequence that starts in the last three bytes can reach past.
    for (std::size_t at = status_message_limit - 1; at + 3 >= status_message_limit; --at) {
        if ((byte(at) & 0xc0) == 0x80)
            continue;  // inside a sequence: its first byte lies further back
        const std::size_t length = sequence_length(byte(at));
        if (at + length <= status_message_limit || at + length > size)
            return status_message_limit;
        for (std::size_t i = at + 1; i < at + length; ++i) {
            if ((byte(i) & 0xc0) != 0x80)
                return status_message_limit;
        }
        return at;
    }
    return status_message_limit;
}

// Puts the value that a status line gives into `out`, which stays untouched
// on any fault. A cut line counts only when the held part already holds the
// message's first 400 bytes and the three after them (which tell whether a
// character runs across the cut), so that it gives what the whole line would.
static bool parse_status_line(const FirstLine& line, Progress& out) try {
    const std::string& text = line.text;
    const std::size_t tab1 = text.find('\t');
    if (tab1 == std::string::npos)
        return false;
    const std::size_t tab2 = text.find('\t', tab1 + 1);
    if (tab2 == std::string::npos)
        return false;
    const std::size_t tab3 = text.find('\t', tab2 + 1);
    if (tab3 == std::string::npos)
        return false;
    const std::size_t message_held = text.size() - (tab3 + 1);
    if (message_held == 0 || (line.cut && message_held < status_message_limit + 3))
        return false;

    const std::string state = text.substr(0, tab1);
    if (state != "working" && state != "success" && state != "error")
        return false;

    // std::stoi gives the caller its leeway: leading white space, a sign,
    // text after the digits. It throws for a field without digits or out of
    // the 32-bit range, which the catch below turns into a refusal.
    const int completed = std::stoi(text.substr(tab1 + 1, tab2 - tab1 - 1));
    const int total = std::stoi(text.substr(tab2 + 1, tab3 - tab2 - 1));
    if (completed > total || completed < 0 || total < 1 || total > 10000)
        return false;

    Progress value;
    value.state = state;
    value.completed = completed;
    value.total = total;
    value.message = text.substr(tab3 + 1, message_length(text, tab3 + 1));
    out = std::move(value);  // cannot fail: the previous value goes only now
    return true;
} catch (...) {
    return false;  // std::stoi's refusals, or no memory for the new value
}

Progress read_progress(const char* status_path, Progress previous) {
    FirstLine line;
    if (status_path && read_first_line(status_path, line))
        parse_status_line(line, previous);
    return previous;
}
