#include "launcher.h"

#include <exception>
#include <string>

#include "browser_window.h"
#include "messages.h"
#include "platform.h"
#include "probe.h"
#include "searches.h"

namespace {

constexpr int port_wait_probes = 80;
constexpr unsigned port_wait_pause_ms = 100;
constexpr int window_width = 1100;
constexpr int window_height = 780;

// Counted in probes, not by a clock: a slow probe lengthens the wait rather
// than cutting the host's chances.
int wait_for_port(const NativeString& exe_folder) {
    for (int probe = 0; probe < port_wait_probes; ++probe) {
        const int port = probe_launcher_port(exe_folder);
        if (port != 0) return port;
        platform::pause_ms(port_wait_pause_ms);
    }
    return 0;
}

int fail(Message message, const NativeString& detail = {}) {
    platform::show_error(localized_message(message, detail));
    return 1;
}

}  // namespace

int run_launcher() {
    platform::sockets_start();
    const NativeString exe_folder = platform::program_folder();
    platform::HostProcess host;

    // A host that already answers is used as it is: nothing is searched or
    // started, and it outlives this launcher.
    int port = probe_launcher_port(exe_folder);
    if (port == 0) {
        const NativeString script =
            first_existing_path(platform::host_script_candidates(exe_folder));
        if (script.empty()) return fail(Message::no_script);

        const NativeString from_python_txt =
            platform::python_txt_candidate(read_python_txt(script));
        const NativeString python =
            first_existing_path(platform::python_candidates(exe_folder, from_python_txt));
        if (python.empty()) return fail(Message::no_python);

        if (!platform::start_host(python, script, exe_folder, host)) {
            return fail(Message::start_failure, python);
        }

        preload_browser_library(exe_folder);  // while the host starts
        port = wait_for_port(exe_folder);
        if (port == 0) {
            // The host stays up while the message is read, so whatever it
            // writes about its trouble is complete by the time it is ended.
            platform::show_error(localized_message(Message::time_out));
            platform::end_host(host, 1);
            return 1;
        }
    }

    const std::string address = page_address(port);
    int exit_code = 0;
    try {
        BrowserWindow window(exe_folder);
        window.set_title("Morvane");
        window.set_size(window_width, window_height);
        window.navigate(address);
        platform::set_window_icons();
        window.run();
    } catch (const std::exception&) {
        // Whatever went wrong, the remedy the player can act on is the same.
        platform::show_error(localized_message(Message::webview));
        exit_code = 1;
    }
    if (host.started) platform::end_host(host, 0);
    platform::sockets_cleanup();
    return exit_code;
}
