#include "launcher.h"

#include <exception>
#include <filesystem>
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
// than cutting the host's chances. A stop request ends it early.
int wait_for_port(const NativeString& exe_folder, std::filesystem::path& port_file) {
    for (int probe = 0; probe < port_wait_probes && !platform::stop_requested(); ++probe) {
        const int port = probe_launcher_port(exe_folder, &port_file);
        if (port != 0)
            return port;
        platform::pause_ms(port_wait_pause_ms);
    }
    return 0;
}

// The host this run started goes, and with it the launcher.port that named
// its port.
void end_started_host(const platform::HostProcess& host, unsigned exit_code,
                      const std::filesystem::path& port_file, int port) {
    if (!host.started)
        return;
    platform::end_host(host, exit_code);
    if (port != 0)
        forget_launcher_port(port_file, port);
}

int fail(Message message, const NativeString& detail = {}) {
    platform::show_error(localized_message(message, detail));
    return 1;
}

}  // namespace

int run_launcher() {
    platform::hold_closed_standard_streams();
    platform::sockets_start();
    const NativeString exe_folder = platform::program_folder();
    // Without it the searches would start at the root, and launcher.port
    // would be read wherever the launcher was started from.
    if (exe_folder.empty())
        return fail(Message::no_script);
    // A player who starts us again while the first launch is still under way
    // (its host slow to listen, say) must not get a second host fighting the
    // first over launcher.port, nor a second window: the first one goes on.
    if (platform::another_launcher_runs(exe_folder))
        return 0;
    platform::HostProcess host;
    std::filesystem::path port_file;

    // A host that already answers is used as it is: nothing is searched or
    // started, and it outlives this launcher.
    int port = probe_launcher_port(exe_folder);
    if (port == 0) {
        const NativeString script =
            first_existing_path(platform::host_script_candidates(exe_folder));
        if (script.empty())
            return fail(Message::no_script);

        const NativeString from_python_txt =
            platform::python_txt_candidate(read_python_txt(script));
        // Started as the host, the launcher itself would start another one.
        const NativeString python = first_existing_path(
            platform::python_candidates(exe_folder, from_python_txt), platform::is_running_program);
        if (python.empty())
            return fail(Message::no_python);

        platform::hold_stop_requests();
        if (!platform::start_host(python, script, exe_folder, host)) {
            return fail(Message::start_failure, python);
        }

        preload_browser_library(exe_folder);  // while the host starts
        port = wait_for_port(exe_folder, port_file);
        if (platform::stop_requested()) {
            end_started_host(host, 0, port_file, port);
            return 1;
        }
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
    // Ended by a signal rather than by the player.
    if (platform::stop_requested())
        exit_code = 1;
    end_started_host(host, 0, port_file, port);
    platform::sockets_cleanup();
    return exit_code;
}
