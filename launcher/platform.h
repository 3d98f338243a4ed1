#pragma once
// Everything the launcher asks of the operating system. One source file per
// system implements these (platform_posix.cpp for Linux with GTK 4,
// platform_win32.cpp for Windows); the run routine and the pure logic see
// only this header.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

// Paths and message texts in the system's own form: UTF-16 on Windows, bytes
// (UTF-8 for our own texts) elsewhere, the same type std::filesystem uses.
using NativeString = std::filesystem::path::string_type;

#ifdef _WIN32
#define MORVANE_TEXT(s) L##s
#else
#define MORVANE_TEXT(s) s
#endif

namespace platform {

// Holds on the null device any standard stream that whoever started us left
// closed, before anything else opens a descriptor: the display's connection
// or a pipe given that number would receive every warning written to
// standard error. Windows has no such numbers.
void hold_closed_standard_streams();

// Takes, for as long as this process lives, the mark that a launcher of this
// program folder runs; true when another process holds it already. The
// system drops it however the process ends, no file shows it, and the host
// never inherits it. A mark that can't be taken for another reason lets the
// launch go on (false), with the reason on standard error where there is one.
bool another_launcher_runs(const NativeString& exe_folder);

// The socket library's start and end (Winsock needs them; POSIX does not).
void sockets_start();
void sockets_cleanup();

// The folder of the running program, without trailing separator (except at
// a root); empty when the system does not tell.
NativeString program_folder();

// Where the host script may lie, most preferred first, each the folder's
// text followed by a fixed suffix.
std::vector<NativeString> host_script_candidates(const NativeString& exe_folder);

// The interpreter path a python.txt names, from the file's trimmed bytes.
NativeString python_txt_candidate(const std::string& bytes);

// True when `path` names the running program's own file (under any name):
// started as the host interpreter, it would start another launcher, and so on.
bool is_running_program(const NativeString& path);

// Where a Python interpreter may lie, most preferred first; empty entries
// are places that gave nothing. Any search of the program path is made here,
// before the caller tests the list.
std::vector<NativeString> python_candidates(const NativeString& exe_folder,
                                            const NativeString& from_python_txt);

// The host process this run started. `started` stays false on the road where
// a host was already answering, and then nothing is ever ended.
struct HostProcess {
    bool started = false;
    std::intptr_t id = 0;  // process handle on Windows, process id elsewhere
};

// Starts `python script --no-browser` in `working_folder`, with no console,
// no inherited handles and the launcher's environment. On Linux the host is
// killed by the system when the launcher dies, however it dies. False when
// the program could not be started; where the system tells why, the reason
// goes to standard error as one line.
bool start_host(const NativeString& python, const NativeString& script,
                const NativeString& working_folder, HostProcess& host);

// Ends a started host at once: that process alone, never what it started
// itself (the game outlives the launcher). Exit codes exist only where the
// system lets one impose them; elsewhere the host is killed.
void end_host(const HostProcess& host, unsigned exit_code);

// From here on SIGTERM, SIGINT and SIGHUP no longer end the launcher at
// once: they are held as a stop request, so that the host this run started
// is ended first. Windows has no such request.
void hold_stop_requests();
bool stop_requested();

// While set, `action` runs on the launcher's thread, from the window's
// message loop, when a stop request is held (at once when one already is).
// An empty action clears it. A message box closes by itself on a stop request.
void on_stop_request(std::function<void()> action);

// A connection attempt that has not completed by then counts as no answer:
// a frozen host's full accept queue would hold it for minutes.
constexpr unsigned probe_timeout_ms = 250;

// One connection attempt to 127.0.0.1:port, closed again at once.
bool local_port_answers(int port);

void pause_ms(unsigned milliseconds);

// The user's interface language, asked anew on every call.
bool interface_language_is_french();

// A modal error box captioned "Morvane"; returns once the user has closed it.
void show_error(const NativeString& text);

// The browser library laid beside the program, or null when it can't be
// loaded or has nowhere to show a window. It stays loaded until the process
// ends.
void* load_browser_library(const NativeString& exe_folder);
void* browser_library_symbol(void* library, const char* name);

// Gives the program's icon to every top-level window the program has.
void set_window_icons();

}  // namespace platform
