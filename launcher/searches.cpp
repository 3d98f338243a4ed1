#include "searches.h"

#include <filesystem>
#include <fstream>
#include <system_error>

NativeString first_existing_path(const std::vector<NativeString>& candidates,
                                 bool (*passed_over)(const NativeString&)) {
    for (const NativeString& candidate : candidates) {
        if (candidate.empty())
            continue;
        if (passed_over != nullptr && passed_over(candidate))
            continue;
        std::error_code error;
        // A status that can't be read counts as absent, not as a failure.
        if (std::filesystem::exists(std::filesystem::path(candidate), error))
            return candidate;
    }
    return {};
}

std::string read_python_txt(const NativeString& host_script) {
    const std::filesystem::path file =
        std::filesystem::path(host_script).parent_path() / "python.txt";
    // Files only: opening a FIFO would wait for a writer for good, and a
    // device such as /dev/zero never ends.
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error))
        return {};
    std::ifstream in(file, std::ios_base::in | std::ios_base::binary);
    if (!in)
        return {};
    // One byte past the limit tells a file that is too long from one that fits.
    std::string bytes(python_txt_limit + 1, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (in.bad() || static_cast<std::size_t>(in.gcount()) > python_txt_limit)
        return {};
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    // Only line ends and blanks that editors leave behind go; anything else is
    // taken to be part of the path, even when that makes it name nothing.
    while (!bytes.empty() &&
           (bytes.back() == ' ' || bytes.back() == '\r' || bytes.back() == '\n')) {
        bytes.pop_back();
    }
    return bytes;
}
