// The status file reader, driven through real files.
#include "progress.h"
#include "progress_screen.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

// What the screen showed before the read; every refusal must give it back whole.
Progress shown() {
    Progress p;
    p.state = "error";
    p.completed = 4;
    p.total = 7;
    p.message = "previous line";
    return p;
}

void expect_same(const Progress& actual, const Progress& expected) {
    EXPECT_EQ(actual.state, expected.state);
    EXPECT_EQ(actual.completed, expected.completed);
    EXPECT_EQ(actual.total, expected.total);
    EXPECT_EQ(actual.message, expected.message);
}

class StatusFile : public ::testing::Test {
protected:
    void write(const std::string& bytes) const {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }
    Progress read(const std::string& bytes) const {
        write(bytes);
        return read_progress(path.c_str(), shown());
    }

    TempFolder folder{"orbex-progress"};
    fs::path dir = folder.path();
    std::string path = (dir / "status").string();
};

struct Accepted {
    const char* what;
    std::string file;
    const char* state;
    int completed;
    int total;
    std::string message;
};

TEST_F(StatusFile, AcceptedLinesGiveTheirValues) {
    const Accepted cases[] = {
        {"plain", "working\t3\t5\tCopying files\n", "working", 3, 5, "Copying files"},
        {"success with nothing done", "success\t0\t1\tDone", "success", 0, 1, "Done"},
        {"error", "error\t2\t9\tUnpack failed\n", "error", 2, 9, "Unpack failed"},
        {"all stages done, still working", "working\t3\t3\tx\n", "working", 3, 3, "x"},
        {"total at its top", "working\t0\t10000\tx\n", "working", 0, 10000, "x"},
        {"leading blanks", "working\t   3\t \v\f\r5\tx\n", "working", 3, 5, "x"},
        {"signs", "working\t+2\t+05\tx\n", "working", 2, 5, "x"},
        {"minus zero", "working\t-0\t1\tx\n", "working", 0, 1, "x"},
        {"text after the digits", "working\t2 stages\t4.9\tx\n", "working", 2, 4, "x"},
        {"hexadecimal reads as its 0", "working\t0x10\t5\tx\n", "working", 0, 5, "x"},
        {"tabs after the third stay", "working\t1\t2\ta\tb\t\n", "working", 1, 2, "a\tb\t"},
        {"percent stays literal", "working\t1\t2\t100% %s %n\n", "working", 1, 2, "100% %s %n"},
        {"CR LF end", "working\t1\t2\tmsg\r\nnext", "working", 1, 2, "msg"},
        {"only the CR before the LF goes", "working\t1\t2\ta\rb\r\r\n", "working", 1, 2, "a\rb\r"},
        {"CR at the end of the file stays", "working\t1\t2\tmsg\r", "working", 1, 2, "msg\r"},
        {"only the first line counts", "success\t1\t1\tfirst\nerror\t0\t1\tsecond\n", "success", 1,
         1, "first"},
        {"a 400-byte message", "working\t1\t2\t" + std::string(400, 'm') + "\n", "working", 1, 2,
         std::string(400, 'm')},
        {"a 401-byte message is cut", "working\t1\t2\t" + std::string(400, 'm') + "Z\n", "working",
         1, 2, std::string(400, 'm')},
        {"the cut never splits a character",
         "working\t1\t2\t" + std::string(399, 'm') + "\xc3\xa9\n", "working", 1, 2,
         std::string(399, 'm')},
        {"nor a four-byte one", "working\t1\t2\t" + std::string(397, 'm') + "\xf0\x9f\x98\x80\n",
         "working", 1, 2, std::string(397, 'm')},
        {"a character ending at the cut stays",
         "working\t1\t2\t" + std::string(397, 'm') + "\xe6\x97\xa5Z\n", "working", 1, 2,
         std::string(397, 'm') + "\xe6\x97\xa5"},
        {"bytes of no whole character are cut as bytes",
         "working\t1\t2\t" + std::string(398, 'm') + "\xe6\x97Z\n", "working", 1, 2,
         std::string(398, 'm') + "\xe6\x97"},
        {"a NUL byte is message text", std::string("working\t1\t2\ta\0b\n", 15), "working", 1, 2,
         std::string("a\0b", 3)},
    };
    for (const Accepted& c : cases) {
        SCOPED_TRACE(c.what);
        const Progress p = read(c.file);
        EXPECT_EQ(p.state, c.state);
        EXPECT_EQ(p.completed, c.completed);
        EXPECT_EQ(p.total, c.total);
        EXPECT_EQ(p.message, c.message);
    }
}

TEST_F(StatusFile, FaultyLinesKeepThePreviousValueWhole) {
    const std::pair<const char*, std::string> cases[] = {
        {"empty file", ""},
        {"empty first line", "\nworking\t1\t2\tsecond line\n"},
        {"no tab", "working\n"},
        {"one tab", "working\t1\n"},
        {"two tabs", "working\t1\t2\n"},
        {"nothing after the third tab", "working\t1\t2\t\n"},
        {"nothing after the third tab, CR LF", "working\t1\t2\t\r\n"},
        {"capital state", "Working\t1\t2\tx\n"},
        {"state in capitals", "SUCCESS\t1\t2\tx\n"},
        {"trailing blank on the state", "working \t1\t2\tx\n"},
        {"leading blank on the state", " working\t1\t2\tx\n"},
        {"byte-order mark", "\xef\xbb\xbfworking\t1\t2\tx\n"},
        {"other word", "done\t1\t2\tx\n"},
        {"empty state", "\t1\t2\tx\n"},
        {"empty count", "working\t\t2\tx\n"},
        {"blank count", "working\t \t2\tx\n"},
        {"count without digits", "working\tthree\t5\tx\n"},
        {"sign alone", "working\t+\t5\tx\n"},
        {"blank after the sign", "working\t- 1\t5\tx\n"},
        {"2^31", "working\t2147483648\t5\tx\n"},
        {"below -2^31", "working\t1\t-2147483649\tx\n"},
        {"far too many digits", "working\t1\t99999999999999999999999\tx\n"},
        {"completed -1", "working\t-1\t5\tx\n"},
        {"completed above total", "working\t6\t5\tx\n"},
        {"total 0", "working\t0\t0\tx\n"},
        {"total 10001", "working\t0\t10001\tx\n"},
        {"negative total", "working\t-3\t-2\tx\n"},
        {"CR LF ends the state", "working\r\n1\t2\tx\n"},
    };
    for (const auto& [what, file] : cases) {
        SCOPED_TRACE(what);
        expect_same(read(file), shown());
    }
}

TEST_F(StatusFile, UnreadablePlacesKeepThePreviousValue) {
    expect_same(read_progress((dir / "missing").c_str(), shown()), shown());
    expect_same(read_progress(dir.c_str(), shown()), shown());
    expect_same(read_progress("", shown()), shown());
    expect_same(read_progress(nullptr, shown()), shown());
    // A FIFO with no writer must not hang the window.
    const fs::path fifo = dir / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    expect_same(read_progress(fifo.c_str(), shown()), shown());

    write("working\t1\t2\tx\n");
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    if (geteuid() != 0) {
        expect_same(read_progress(path.c_str(), shown()), shown());
        return;
    }
    // Root reads any file, so the read runs in a child that has first given
    // up root for the unprivileged user 65534. The folder lets that user in:
    // only the file itself is closed to it.
    ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
            _exit(3);
        const int fd = open(path.c_str(), O_RDONLY);
        if (fd != -1 || errno != EACCES)
            _exit(4);
        const Progress read = read_progress(path.c_str(), shown());
        const Progress before = shown();
        _exit(read.state == before.state && read.completed == before.completed &&
                      read.total == before.total && read.message == before.message
                  ? 0
                  : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 3)
        GTEST_SKIP() << "root cannot become an unprivileged user here";
    EXPECT_NE(WEXITSTATUS(status), 4) << "the unprivileged user could open the file";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the unreadable file changed the value";
}

TEST_F(StatusFile, LaterLinesReplaceWhateverCameBefore) {
    Progress p;  // the start value
    EXPECT_EQ(p.state, "working");
    EXPECT_EQ(p.completed, 0);
    EXPECT_EQ(p.total, 5);
    EXPECT_EQ(p.message, "Starting update...");

    write("error\t2\t4\tfailed\n");
    p = read_progress(path.c_str(), std::move(p));
    write("working\t1\t2\tretry\n");
    p = read_progress(path.c_str(), std::move(p));
    EXPECT_EQ(p.state, "working");
    EXPECT_EQ(p.completed, 1);
    write("working\t9\t2\tbad\n");
    p = read_progress(path.c_str(), std::move(p));
    EXPECT_EQ(p.completed, 1);
    EXPECT_EQ(p.message, "retry");
}

// The first line is held only up to status_line_limit bytes. Within it, and
// for any line whose fields before the message fit in limit - 403 bytes,
// reading is exact; beyond, the line is refused, never misread.
TEST_F(StatusFile, LongFirstLinesReadExactlyOrNotAtAll) {
    const std::size_t limit = status_line_limit;
    const std::string tail_message = std::string(399, 'm') + "Z" + std::string(5000, 'q');

    // A message of any length after short fields: its first 400 bytes.
    Progress p = read("working\t1\t2\t" + std::string(3 * limit, 'm') + "\n");
    EXPECT_EQ(p.message, std::string(400, 'm'));
    p = read("working\t1\t2\t" + std::string(3 * limit, 'm'));
    EXPECT_EQ(p.message, std::string(400, 'm'));

    // Padding of a count right up to the bound still reads exactly. The
    // bound leaves 403 message bytes in hand: the three after the cut tell
    // whether a character runs across it.
    const std::string head = "working\t1\t";
    const std::string padded_total = std::string(limit - 403 - head.size() - 2, ' ') + "2";
    ASSERT_EQ(head.size() + padded_total.size() + 1, limit - 403);
    p = read(head + padded_total + "\t" + tail_message + "\n");
    EXPECT_EQ(p.total, 2);
    EXPECT_EQ(p.message, std::string(399, 'm') + "Z");

    // One byte more would leave only 402 message bytes in hand: refused.
    expect_same(read(head + " " + padded_total + "\t" + tail_message + "\n"), shown());

    // A whole line no longer than the bound reads exactly, however long its
    // fields, also when only its CR LF lies beyond the bound.
    const std::string long_count = std::string(limit - head.size() - 3, ' ') + "2";
    p = read(head + long_count + "\tm\r\nrest");
    ASSERT_EQ(head.size() + long_count.size() + 2, limit);
    EXPECT_EQ(p.total, 2);
    EXPECT_EQ(p.message, "m");
    p = read(head + long_count + "\tm");
    EXPECT_EQ(p.message, "m");
    expect_same(read(head + " " + long_count + "\tm\n"), shown());

    // No line feed at all and nothing useful: refused.
    expect_same(read(std::string(3 * limit, ' ')), shown());
}

long peak_kib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// A caller writing garbage without a line feed must not take the tool's
// memory: a 4 GiB first line (sparse, so the test costs no disk) is refused
// and costs almost nothing.
TEST_F(StatusFile, GiganticFirstLineCostsBoundedMemory) {
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs("working\t ", f);
        std::fclose(f);
    }
    fs::resize_file(path, (std::uintmax_t{4} << 30));  // the rest: NUL bytes, no line feed
    const long before = peak_kib();
    expect_same(read_progress(path.c_str(), shown()), shown());
    EXPECT_LT(peak_kib() - before, 16 * 1024);
}

TEST(ProgressSpinner, TurnsEvery180MillisecondsThroughFourCharacters) {
    EXPECT_EQ(progress_spinner(0), '|');
    EXPECT_EQ(progress_spinner(179), '|');
    EXPECT_EQ(progress_spinner(180), '/');
    EXPECT_EQ(progress_spinner(360), '-');
    EXPECT_EQ(progress_spinner(540), '\\');
    EXPECT_EQ(progress_spinner(719), '\\');
    EXPECT_EQ(progress_spinner(720), '|');
    EXPECT_EQ(progress_spinner(720ull * 1000000000ull + 200), '/');
}

}  // namespace
