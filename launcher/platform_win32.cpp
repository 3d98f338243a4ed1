// The launcher's platform layer for Windows: Winsock, the Win32 process and
// search calls, message boxes and the window icon.

#include "platform.h"

// winsock2.h must come before windows.h, which would pull in the old winsock.h.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstring>
#include <cwchar>

namespace platform {

namespace {

// Path buffers hold MAX_PATH units: a longer program path is taken cut
// short, a longer search answer counts as none.
constexpr DWORD path_buffer_units = 260;
constexpr WORD winsock_version = MAKEWORD(2, 2);
constexpr int program_icon_resource = 1;
constexpr const wchar_t* message_caption = L"Morvane";
constexpr const wchar_t* browser_library_name = L"\\libwebview.dll";

static_assert(sizeof(STARTUPINFOW) == 104, "STARTUPINFOW has its x64 layout");

// What SearchPathW finds for `name` along the system's standard search order;
// empty when nothing is found or the answer would not fit the buffer.
NativeString search_program_path(const wchar_t* name, wchar_t (&buffer)[path_buffer_units]) {
    const DWORD length = SearchPathW(nullptr, name, L".exe", path_buffer_units, buffer, nullptr);
    if (length == 0 || length >= path_buffer_units)
        return {};
    return NativeString(buffer);
}

// Every top-level window of the launcher's thread gets the program's icon,
// loaded afresh at the two sizes the system asks for. The images are never
// freed: they serve the window until the process ends.
BOOL CALLBACK set_window_icon(HWND window, LPARAM) {
    const HMODULE module = GetModuleHandleW(nullptr);
    const HANDLE big =
        LoadImageW(module, MAKEINTRESOURCEW(program_icon_resource), IMAGE_ICON,
                   GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR);
    const HANDLE small =
        LoadImageW(module, MAKEINTRESOURCEW(program_icon_resource), IMAGE_ICON,
                   GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR);
    if (big != nullptr) {
        SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    }
    if (small != nullptr) {
        SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
    }
    return TRUE;
}

// The volume and index that tell one file from every other, whatever path
// names it; false when the file can't be opened.
bool file_identity(const wchar_t* path, BY_HANDLE_FILE_INFORMATION& identity) {
    const HANDLE file = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool known = GetFileInformationByHandle(file, &identity) != 0;
    CloseHandle(file);
    return known;
}

}  // namespace

void hold_closed_standard_streams() {}

bool another_launcher_runs(const NativeString& exe_folder) {
    // Named by the folder's identity, so every spelling of its path (case,
    // short names) meets the same mutex. The handle is never closed and not
    // inheritable: the system drops it when this process ends, however it
    // ends, and a host that outlives us holds nothing.
    BY_HANDLE_FILE_INFORMATION folder;
    if (!file_identity(exe_folder.c_str(), folder))
        return false;
    wchar_t name[64];
    std::swprintf(name, sizeof name / sizeof name[0], L"Local\\orbex-morvane-%lx-%lx-%lx",
                  static_cast<unsigned long>(folder.dwVolumeSerialNumber),
                  static_cast<unsigned long>(folder.nFileIndexHigh),
                  static_cast<unsigned long>(folder.nFileIndexLow));
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
    return mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
}

void sockets_start() {
    // A failed start is not worth a message of its own: every probe then finds
    // nothing, and the run ends with the time-out message.
    WSADATA data;
    std::memset(&data, 0, sizeof data);
    WSAStartup(winsock_version, &data);
}

void sockets_cleanup() {
    WSACleanup();
}

NativeString program_folder() {
    wchar_t buffer[path_buffer_units];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, path_buffer_units);
    // A path cut to the buffer would name another folder.
    if (length == 0 || length >= path_buffer_units)
        return {};
    return std::filesystem::path(NativeString(buffer, length)).parent_path().native();
}

std::vector<NativeString> host_script_candidates(const NativeString& exe_folder) {
    return {exe_folder + L"\\morvane\\launcher_host.py",
            exe_folder + L"\\launcher\\morvane\\launcher_host.py",
            exe_folder + L"\\..\\launcher\\morvane\\launcher_host.py"};
}

NativeString python_txt_candidate(const std::string& bytes) {
    // One unit per byte, sign-extended: ASCII passes unchanged, and any other
    // byte becomes a unit no real path holds, so such a file names nothing.
    NativeString widened;
    widened.reserve(bytes.size());
    for (const char byte : bytes) {
        widened.push_back(static_cast<wchar_t>(static_cast<signed char>(byte)));
    }
    return widened;
}

bool is_running_program(const NativeString& path) {
    wchar_t own[path_buffer_units];
    const DWORD length = GetModuleFileNameW(nullptr, own, path_buffer_units);
    if (length == 0 || length >= path_buffer_units)
        return false;
    BY_HANDLE_FILE_INFORMATION mine;
    BY_HANDLE_FILE_INFORMATION theirs;
    return file_identity(own, mine) && file_identity(path.c_str(), theirs) &&
           mine.dwVolumeSerialNumber == theirs.dwVolumeSerialNumber &&
           mine.nFileIndexHigh == theirs.nFileIndexHigh &&
           mine.nFileIndexLow == theirs.nFileIndexLow;
}

std::vector<NativeString> python_candidates(const NativeString& exe_folder,
                                            const NativeString& from_python_txt) {
    wchar_t buffer[path_buffer_units];
    NativeString on_path = search_program_path(L"python.exe", buffer);
    NativeString on_path3 = search_program_path(L"python3.exe", buffer);
    return {exe_folder + L"\\python\\python.exe",
            exe_folder + L"\\..\\python\\python.exe",
            from_python_txt,
            L"C:\\msys64\\usr\\bin\\python.exe",
            L"C:\\msys64\\usr\\bin\\python3.exe",
            L"C:\\msys64\\clang64\\bin\\python.exe",
            std::move(on_path),
            std::move(on_path3)};
}

bool start_host(const NativeString& python, const NativeString& script,
                const NativeString& working_folder, HostProcess& host) {
    const NativeString command_line = L"\"" + python + L"\" \"" + script + L"\" --no-browser";
    // CreateProcessW may write into the command line it is given.
    std::vector<wchar_t> writable(command_line.begin(), command_line.end());
    writable.push_back(L'\0');

    STARTUPINFOW startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    std::memset(&process, 0, sizeof process);

    if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, working_folder.c_str(), &startup, &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    // The process handle is kept for TerminateProcess and never closed: the
    // launcher's own end releases it.
    host.started = true;
    host.id = reinterpret_cast<std::intptr_t>(process.hProcess);
    return true;
}

void end_host(const HostProcess& host, unsigned exit_code) {
    if (!host.started)
        return;
    TerminateProcess(reinterpret_cast<HANDLE>(host.id), exit_code);
}

// Windows asks a windowed program to end only through its windows.
void hold_stop_requests() {}

bool stop_requested() {
    return false;
}

void on_stop_request(std::function<void()>) {}

bool local_port_answers(int port) {
    const SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (probe == INVALID_SOCKET)
        return false;
    bool answered = false;
    u_long non_blocking = 1;
    if (ioctlsocket(probe, FIONBIO, &non_blocking) == 0) {
        sockaddr_in address;
        std::memset(&address, 0, sizeof address);
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<u_short>(port));
        inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
        answered = connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        if (!answered && WSAGetLastError() == WSAEWOULDBLOCK) {
            // Completed is writable; failed is an exception; neither by the
            // time limit is no answer.
            fd_set completed;
            fd_set failed;
            FD_ZERO(&completed);
            FD_ZERO(&failed);
            FD_SET(probe, &completed);
            FD_SET(probe, &failed);
            timeval limit{0, static_cast<long>(probe_timeout_ms * 1000)};
            answered =
                select(0, nullptr, &completed, &failed, &limit) > 0 && FD_ISSET(probe, &completed);
        }
    }
    closesocket(probe);
    return answered;
}

void pause_ms(unsigned milliseconds) {
    Sleep(milliseconds);
}

bool interface_language_is_french() {
    // The primary language alone: French of France, Canada, Switzerland...
    return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_FRENCH;
}

void show_error(const NativeString& text) {
    MessageBoxW(nullptr, text.c_str(), message_caption, MB_ICONERROR | MB_OK);
}

void* load_browser_library(const NativeString& exe_folder) {
    return reinterpret_cast<void*>(LoadLibraryW((exe_folder + browser_library_name).c_str()));
}

void* browser_library_symbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void set_window_icons() {
    EnumThreadWindows(GetCurrentThreadId(), set_window_icon, 0);
}

}  // namespace platform
