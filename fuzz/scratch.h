// Files for the fuzz targets whose readers take a path: a folder of the
// fuzzer's own, made once and removed when the run ends, and a way to lay one
// input into a file there.
#pragma once

#include "temp_folder.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace fuzz {

inline const std::filesystem::path& scratch_folder()
{
    // Removed with the other statics when the run exits.
    static const TempFolder folder("orbex-fuzz");
    return folder.path();
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
