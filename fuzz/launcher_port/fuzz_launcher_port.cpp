// Morvane's reader of launcher.port on any file content, alone and as the
// port probe uses it. The number read must be what formatted extraction of an
// int gives (worked out here by hand), and the probe may only ever try a TCP
// port, 1 to 65535, and only the one the file names.
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "../scratch.h"
#include "probe.h"

namespace {

// `std::ifstream >> int` in the classic locale: white space skipped, an
// optional sign, decimal digits; no digits gives 0, a value out of range the
// nearest end of the range.
int extracted_int(const uint8_t* data, size_t size) {
    size_t at = 0;
    while (at < size && std::isspace(data[at]))
        ++at;
    bool negative = false;
    if (at < size && (data[at] == '+' || data[at] == '-'))
        negative = data[at++] == '-';
    if (at == size || !std::isdigit(data[at]))
        return 0;
    long long magnitude = 0;
    for (; at < size && std::isdigit(data[at]); ++at) {
        if (magnitude <= LLONG_MAX / 10)
            magnitude = magnitude * 10 + (data[at] - '0');
        if (magnitude > static_cast<long long>(INT_MAX) + 1)
            magnitude = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        return magnitude > INT_MAX ? INT_MIN : -static_cast<int>(magnitude);
    return magnitude > INT_MAX ? INT_MAX : static_cast<int>(magnitude);
}

void fail(const char* what, int value) {
    std::fprintf(stderr, "fuzz_launcher_port: %s (%d)\n", what, value);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The program's folder, and its parent holding no launcher.port.
    static const std::filesystem::path game = fuzz::scratch_subfolder("game");
    const std::filesystem::path file = game / "launcher.port";
    fuzz::write_file(file, data, size);

    const int value = read_launcher_port(file);
    if (value != extracted_int(data, size))
        fail("the number read is not the file's", value);

    for (const bool answering : {false, true}) {
        std::vector<int> tried;
        const int port = probe_launcher_port(game.native(), [&](int candidate) {
            tried.push_back(candidate);
            return answering;
        });
        const bool names_a_port = value >= 1 && value <= 65535;
        if (tried.size() != (names_a_port ? 1u : 0u) || (names_a_port && tried[0] != value))
            fail("the probe tried a port the file does not name", tried.empty() ? 0 : tried[0]);
        if (port != (answering && names_a_port ? value : 0))
            fail("the probe gave a port it should not", port);
    }
    return 0;
}
