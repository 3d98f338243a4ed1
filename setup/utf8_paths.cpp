#include "utf8_paths.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>

#include <shellapi.h>

// Strict both ways: a byte sequence that is no UTF-8, or a lone surrogate,
// gives nothing rather than a name with a replacement character in it, which
// would be another file's name.
static std::wstring wide_from_utf8(const std::string& text) {
    if (text.empty() || text.size() > INT_MAX)
        return {};
    const int size = static_cast<int>(text.size());
    const int units =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (units <= 0)
        return {};
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, &wide[0], units) !=
        units)
        return {};
    return wide;
}

static std::string utf8_from_wide(const std::wstring& wide) {
    if (wide.empty() || wide.size() > INT_MAX)
        return {};
    const int size = static_cast<int>(wide.size());
    const int bytes = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), size, nullptr,
                                          0, nullptr, nullptr);
    if (bytes <= 0)
        return {};
    std::string text(static_cast<std::size_t>(bytes), '\0');
    if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), size, &text[0], bytes,
                            nullptr, nullptr) != bytes)
        return {};
    return text;
}

std::filesystem::path path_from_utf8(const std::string& text) {
    return std::filesystem::path(wide_from_utf8(text));
}

std::string utf8_from_path(const std::filesystem::path& path) {
    return utf8_from_wide(path.native());
}

std::FILE* fopen_utf8(const char* path, const char* mode) {
    const std::wstring wide = wide_from_utf8(path);
    if (wide.empty()) {
        errno = ENOENT;  // no UTF-8 text names no file
        return nullptr;
    }
    return _wfopen(wide.c_str(), wide_from_utf8(mode).c_str());
}

bool utf8_environment(const char* name, std::string& value) {
    const wchar_t* wide = _wgetenv(wide_from_utf8(name).c_str());
    if (wide == nullptr)
        return false;
    value = utf8_from_wide(wide);
    return true;
}

std::vector<std::string> utf8_arguments(int argc, char** argv) {
    int count = 0;
    wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
    if (words == nullptr)
        return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    arguments.reserve(static_cast<std::size_t>(count));
    // A word with no UTF-8 form becomes empty: it then matches no option and
    // names no file, as it could name none.
    for (int i = 0; i < count; ++i)
        arguments.push_back(utf8_from_wide(words[i]));
    LocalFree(words);
    return arguments;
}

#else

std::filesystem::path path_from_utf8(const std::string& text) {
    return std::filesystem::path(text);
}

std::string utf8_from_path(const std::filesystem::path& path) {
    return path.native();
}

std::FILE* fopen_utf8(const char* path, const char* mode) {
    return std::fopen(path, mode);
}

bool utf8_environment(const char* name, std::string& value) {
    const char* found = std::getenv(name);
    if (found == nullptr)
        return false;
    value = found;
    return true;
}

std::vector<std::string> utf8_arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

#endif
