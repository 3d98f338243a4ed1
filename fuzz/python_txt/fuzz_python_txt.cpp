// Morvane's reader of python.txt on any file content, followed by what the
// launcher does with the text: it becomes a Python candidate that the search
// tests for existence. The text must be the file's bytes with only trailing
// blanks, carriage returns and line feeds taken off, and nothing at all for a
// file longer than the reader's limit.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "../scratch.h"
#include "platform.h"
#include "searches.h"

namespace {

bool trimmed_byte(char c) {
    return c == ' ' || c == '\r' || c == '\n';
}

void fail(const char* what) {
    std::fprintf(stderr, "fuzz_python_txt: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::filesystem::path folder = fuzz::scratch_subfolder("morvane");
    static const NativeString script = (folder / "launcher_host.py").native();
    fuzz::write_file(folder / "python.txt", data, size);

    const std::string text = read_python_txt(script);
    if (size > python_txt_limit) {
        if (!text.empty())
            fail("a file over the limit named an interpreter");
        return 0;
    }
    if (text.size() > size || std::memcmp(text.data(), data, text.size()) != 0)
        fail("the text is not the start of the file");
    if (!text.empty() && trimmed_byte(text.back()))
        fail("a trailing blank or line end was kept");
    for (size_t at = text.size(); at < size; ++at) {
        if (!trimmed_byte(static_cast<char>(data[at])))
            fail("more than trailing blanks and line ends was dropped");
    }

    const NativeString candidate = platform::python_txt_candidate(text);
    const NativeString found = first_existing_path({candidate});
    if (!found.empty() && found != candidate)
        fail("the search gave another path than the candidate");
    return 0;
}
