// Files for the fuzz targets whose readers take a path: a folder of the
// fuzzer's own, made once and removed when the run ends, and a way to lay one
// input into a file there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace fuzz {

inline const std::filesystem::path& scratch_folder()
{
    static const std::filesystem::path folder = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/orbex-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data())) {
            std::perror("fuzz: no scratch folder");
            std::abort();
        }
        std::atexit([] {
            std::error_code error;
            std::filesystem::remove_all(scratch_folder(), error);
        });
        return std::filesystem::path(pattern);
    }();
    return folder;
}

// Replaces the file's content with the input's bytes.
inline void write_file(const std::filesystem::path& file, const uint8_t* data, size_t size)
{
    std::FILE* out = std::fopen(file.c_str(), "wb");
    if (!out || (size && std::fwrite(data, 1, size, out) != size) || std::fclose(out) != 0) {
        std::perror("fuzz: cannot write the input file");
        std::abort();
    }
}

}  // namespace fuzz
