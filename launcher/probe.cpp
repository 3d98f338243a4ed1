#include "probe.h"

#include <fstream>
#include <system_error>

namespace {

constexpr int highest_port = 65535;

}  // namespace

int read_launcher_port(const std::filesystem::path& file) {
    int value = 0;
    // Only a file the host wrote: opening a FIFO would wait for a writer
    // for good.
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error))
        return value;
    std::ifstream in(file, std::ios_base::in);
    in >> value;
    return value;
}

int probe_launcher_port(const NativeString& folder, const std::function<bool(int)>& answers,
                        std::filesystem::path* named_by) {
    const std::filesystem::path here(folder);
    const std::filesystem::path places[] = {here / "launcher.port",
                                            here.parent_path() / "launcher.port"};
    for (const std::filesystem::path& place : places) {
        const int value = read_launcher_port(place);
        // A number beyond the TCP range names no port: trying its low 16 bits
        // would test one port and then open the page on another.
        if (value <= 0 || value > highest_port)
            continue;
        if (!answers(value))
            continue;
        if (named_by != nullptr)
            *named_by = place;
        return value;
    }
    return 0;
}

int probe_launcher_port(const NativeString& folder, std::filesystem::path* named_by) {
    return probe_launcher_port(folder, platform::local_port_answers, named_by);
}

void forget_launcher_port(const std::filesystem::path& file, int port) {
    if (read_launcher_port(file) != port)
        return;
    std::error_code error;
    std::filesystem::remove(file, error);
}

std::string page_address(int port) {
    std::string address = std::to_string(port);
    address.insert(0, "http://127.0.0.1:");
    address += "/";
    return address;
}
