// Rewrites a status file the way a caller does, over and over: truncate, then
// the line in several pieces, sometimes with a second line after it.
// Usage: status_writer PATH ROUNDS SEED
#include "status_lines.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

static bool write_all(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t done = write(fd, data, size);
        if (done <= 0)
            return false;
        data += done;
        size -= static_cast<std::size_t>(done);
    }
    return true;
}

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: status_writer PATH ROUNDS SEED\n", stderr);
        return 2;
    }
    const char* path = argv[1];
    const long rounds = std::atol(argv[2]);
    std::mt19937 random(static_cast<unsigned>(std::atol(argv[3])));

    for (long round = 0; round < rounds; ++round) {
        const int k = static_cast<int>(random() % status_line_count);
        std::string text = status_line(k) + "\n";
        if (random() % 3 == 0)
            text += status_line((k + 1) % status_line_count) + "\n";

        // Cut points anywhere, the tabs' neighbourhoods included.
        std::vector<std::size_t> cuts;
        const int pieces = 1 + static_cast<int>(random() % 5);
        for (int i = 1; i < pieces; ++i)
            cuts.push_back(random() % text.size());
        cuts.push_back(text.size());
        std::sort(cuts.begin(), cuts.end());

        const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) {
            std::perror(path);
            return 1;
        }
        std::size_t start = 0;
        for (std::size_t cut : cuts) {
            if (!write_all(fd, text.data() + start, cut - start)) {
                std::perror(path);
                close(fd);
                return 1;
            }
            start = cut;
            sched_yield();  // give the reader a chance to catch the line half written
        }
        close(fd);
    }
    return 0;
}
