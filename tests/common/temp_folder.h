// A fresh folder under the system's temporary folder for one test (or one
// fuzzer run), removed with its contents when the object goes.
#pragma once

#include <stdlib.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

class TempFolder {
public:
    // The folder's name starts with `prefix`. Nothing a test checks means
    // anything without its folder, so when none can be made the reason goes
    // to standard error and the process aborts, which fails the test.
    explicit TempFolder(const std::string& prefix = "orbex-test") {
        std::error_code error;
        const std::filesystem::path base = std::filesystem::temp_directory_path(error);
        if (error) {
            std::fprintf(stderr, "no temporary folder: %s\n", error.message().c_str());
            std::abort();
        }
        std::string pattern = (base / (prefix + "-XXXXXX")).string();
        if (!mkdtemp(pattern.data())) {
            std::fprintf(stderr, "mkdtemp %s: %s\n", pattern.c_str(), std::strerror(errno));
            std::abort();
        }
        path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }

    // Writes `bytes` to a file below the folder, making the folders on the way.
    std::filesystem::path write(const std::string& relative, const std::string& bytes) const {
        const std::filesystem::path file = path_ / relative;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << bytes;
        return file;
    }

private:
    std::filesystem::path path_;
};
