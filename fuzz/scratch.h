// Files for the fuzz targets whose readers take a path: a folder of the
// fuzzer's own, made once and removed when the run ends, a way to lay one
// input into a file there, and a file in memory for readers that take any
// path.
#pragma once

#include "temp_folder.h"

#include <sys/mman.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace fuzz {

inline const std::filesystem::path& scratch_folder() {
    // Removed with the other statics when the run exits.
    static const TempFolder folder("orbex-fuzz");
    return folder.path();
}

// A folder of that name in the scratch folder, made when missing.
inline std::filesystem::path scratch_subfolder(const char* name) {
    const std::filesystem::path folder = scratch_folder() / name;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        std::fprintf(stderr, "fuzz: cannot make %s: %s\n", folder.c_str(), error.message().c_str());
        std::abort();
    }
    return folder;
}

// Replaces the file's content with the input's bytes.
inline void write_file(const std::filesystem::path& file, const uint8_t* data, size_t size) {
    std::FILE* out = std::fopen(file.c_str(), "wb");
    if (!out || (size && std::fwrite(data, 1, size, out) != size) || std::fclose(out) != 0) {
        std::perror("fuzz: cannot write the input file");
        std::abort();
    }
}

// The input as a file in memory, opened by its path.
struct MemoryFile {
    explicit MemoryFile(const char* name) : fd(memfd_create(name, MFD_CLOEXEC)) {
        if (fd < 0) {
            std::perror("fuzz: memory file");
            std::abort();
        }
    }

    int fd;
    std::string path = "/proc/self/fd/" + std::to_string(fd);

    // Replaces the file's content with the input's bytes.
    void fill(const uint8_t* data, size_t size) const {
        if (ftruncate(fd, 0) != 0 ||
            (size && pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))) {
            std::perror("fuzz: memory file");
            std::abort();
        }
    }
};

}  // namespace fuzz
