#pragma once
// What tells one file from another whatever path reaches it: the device and
// inode number on POSIX, the volume serial number and file index on Windows.
#include <cstdint>
#include <filesystem>

struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
};

bool operator<(const FileIdentity& a, const FileIdentity& b);

// The identity of the file a path names, links followed. False when no file
// answers (none there, a folder on the way that may not be searched).
bool query_file_identity(const std::filesystem::path& path, FileIdentity& identity);
