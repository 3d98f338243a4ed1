// One real process rewrites the status file thousands of times while this one
// reads it in a loop: no value may ever mix fields of two lines or come from
// a line cut anywhere but inside its message.
#include "progress.h"
#include "status_lines.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

extern char** environ;

namespace {

// Which kind of value a read gave, or why it cannot be right.
enum class Seen { start, whole, cut_in_message, impossible };

Seen classify(const Progress& p, const Progress& start, std::string& why) {
    if (p.state == start.state && p.completed == start.completed && p.total == start.total &&
        p.message == start.message)
        return Seen::start;
    const int k = p.total - status_line_total(0);
    if (k < 0 || k >= status_line_count) {
        why = "total " + std::to_string(p.total) + " belongs to no line";
        return Seen::impossible;
    }
    if (p.state != status_line_state(k) || p.completed != status_line_completed(k)) {
        why = "fields of two lines: " + p.state + " " + std::to_string(p.completed) + " of " +
              std::to_string(p.total);
        return Seen::impossible;
    }
    const std::string full = status_line_message(k).substr(0, 400);
    if (p.message.empty() || p.message.size() > full.size() ||
        full.compare(0, p.message.size(), p.message) != 0) {
        why = "message not a start of line " + std::to_string(k) + "'s: " + p.message;
        return Seen::impossible;
    }
    return p.message.size() == full.size() ? Seen::whole : Seen::cut_in_message;
}

TEST(TornWrites, EveryAcceptedValueComesFromOneLine) {
    const TempFolder dir("orbex-torn");
    const std::string path = dir.str() + "/status";

    const std::string rounds = "20000";
    const std::string seed = "1234";
    char* const args[] = {const_cast<char*>(ORBEX_STATUS_WRITER), const_cast<char*>(path.c_str()),
                          const_cast<char*>(rounds.c_str()), const_cast<char*>(seed.c_str()),
                          nullptr};
    pid_t writer = 0;
    ASSERT_EQ(posix_spawn(&writer, ORBEX_STATUS_WRITER, nullptr, nullptr, args, environ), 0);

    const Progress start;
    Progress p;
    long reads = 0, whole = 0, cut = 0, impossible = 0;
    int status = 0;
    for (bool writer_done = false; !writer_done;) {
        writer_done = waitpid(writer, &status, WNOHANG) == writer;
        const Progress before = p;
        p = read_progress(path.c_str(), std::move(p));
        ++reads;
        std::string why;
        const Seen seen = classify(p, start, why);
        if (seen == Seen::impossible) {
            if (++impossible <= 5)
                ADD_FAILURE() << why;
            continue;
        }
        // Count each accepted line once, not every frame that keeps it.
        if (p.state == before.state && p.completed == before.completed && p.total == before.total &&
            p.message == before.message)
            continue;
        if (seen == Seen::whole)
            ++whole;
        else if (seen == Seen::cut_in_message)
            ++cut;
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(impossible, 0);
    EXPECT_GT(whole, 0);
    std::printf("reads %ld: whole lines %ld, lines cut inside the message %ld\n", reads, whole,
                cut);
}

}  // namespace
