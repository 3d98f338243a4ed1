#include "file_identity.h"

#include <tuple>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

bool operator<(const FileIdentity& a, const FileIdentity& b) {
    return std::tie(a.volume, a.index) < std::tie(b.volume, b.index);
}

#ifdef _WIN32
bool query_file_identity(const std::filesystem::path& path, FileIdentity& identity) {
    // No access asked for, and every sharing mode allowed: the query must
    // neither need rights to the file's contents nor disturb a program that
    // has it open. Backup semantics let a folder be opened as well.
    const HANDLE file =
        CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    const bool read = GetFileInformationByHandle(file, &info) != 0;
    const bool closed = CloseHandle(file) != 0;
    if (!read || !closed)
        return false;
    identity.volume = info.dwVolumeSerialNumber;
    identity.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}
#else
bool query_file_identity(const std::filesystem::path& path, FileIdentity& identity) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0)
        return false;
    identity.volume = static_cast<std::uint64_t>(status.st_dev);
    identity.index = static_cast<std::uint64_t>(status.st_ino);
    return true;
}
#endif
