// The launcher's platform layer for Linux and other POSIX systems with GTK 4.

#include "platform.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <gtk/gtk.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>

extern char** environ;

// Made by glib-compile-resources from icons/morvane.gresource.xml.
extern "C" void morvane_register_resource(void);

namespace platform {

namespace {

constexpr const char* icon_name = "morvane";
constexpr const char* icon_resource_path = "/org/orbex/morvane/icons";
constexpr const char* browser_library_name = "libwebview-x64.so";

// The first executable regular file called `name` in a folder of PATH, as
// execvp would pick it; empty when there is none.
NativeString search_program_path(const char* name) {
    std::string folders;
    if (const char* path = std::getenv("PATH")) {
        folders = path;
    } else {
        const size_t size = confstr(_CS_PATH, nullptr, 0);
        if (size > 0) {
            folders.resize(size);
            confstr(_CS_PATH, folders.data(), size);
            folders.resize(size - 1);
        }
    }
    size_t start = 0;
    while (start <= folders.size()) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos) end = folders.size();
        std::string folder = folders.substr(start, end - start);
        if (folder.empty()) folder = ".";  // an empty entry is the current folder
        const std::string candidate = folder + "/" + name;
        struct stat status;
        if (stat(candidate.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
            access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        start = end + 1;
    }
    return {};
}

// Registers the embedded icon images with the display's icon theme and makes
// them every window's default. Needs an open display; done once.
void use_program_icon() {
    static bool registered = false;
    if (registered) return;
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr) return;
    morvane_register_resource();
    gtk_icon_theme_add_resource_path(gtk_icon_theme_get_for_display(display), icon_resource_path);
    gtk_window_set_default_icon_name(icon_name);
    registered = true;
}

void on_dialog_response(GtkDialog*, int, gpointer closed) {
    *static_cast<bool*>(closed) = true;
}

void on_dialog_destroy(GtkWidget*, gpointer closed) {
    *static_cast<bool*>(closed) = true;
}

}  // namespace

void sockets_start() {}

void sockets_cleanup() {}

NativeString program_folder() {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return {};
    return program.parent_path().native();
}

std::vector<NativeString> host_script_candidates(const NativeString& exe_folder) {
    return {exe_folder + "/morvane/launcher_host.py",
            exe_folder + "/launcher/morvane/launcher_host.py",
            exe_folder + "/../launcher/morvane/launcher_host.py"};
}

NativeString python_txt_candidate(const std::string& bytes) {
    return bytes;  // POSIX paths are bytes already
}

std::vector<NativeString> python_candidates(const NativeString& exe_folder,
                                            const NativeString& from_python_txt) {
    NativeString on_path = search_program_path("python");
    NativeString on_path3 = search_program_path("python3");
    return {exe_folder + "/python/bin/python3",
            exe_folder + "/../python/bin/python3",
            from_python_txt,
            std::move(on_path),
            std::move(on_path3)};
}

bool start_host(const NativeString& python, const NativeString& script,
                const NativeString& working_folder, HostProcess& host) {
    // The path was found relative to our own current folder; the child starts
    // in another one, so it gets the path that names the same file there.
    std::error_code error;
    std::string program = std::filesystem::absolute(python, error).native();
    if (error) program = python;

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawn_file_actions_addchdir_np(&actions, working_folder.c_str());

    // A session of its own keeps the host apart from our terminal; signals
    // start from their defaults whatever the launcher's libraries changed.
    sigset_t no_signals;
    sigset_t all_signals;
    sigemptyset(&no_signals);
    sigfillset(&all_signals);
    posix_spawnattr_setsigmask(&attributes, &no_signals);
    posix_spawnattr_setsigdefault(&attributes, &all_signals);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::string script_argument = script;
    std::string switch_argument = "--no-browser";
    char* arguments[] = {program.data(), script_argument.data(), switch_argument.data(), nullptr};
    pid_t pid = 0;
    const int result = posix_spawn(&pid, program.c_str(), &actions, &attributes, arguments, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0) return false;
    host.started = true;
    host.id = pid;
    return true;
}

void end_host(const HostProcess& host, unsigned) {
    if (!host.started) return;
    const pid_t pid = static_cast<pid_t>(host.id);
    kill(pid, SIGKILL);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

bool local_port_answers(int port) {
    const int socket_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (socket_fd < 0) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    const int result =
        connect(socket_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    close(socket_fd);
    return result == 0;
}

void pause_ms(unsigned milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool interface_language_is_french() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0') return std::strncmp(value, "fr", 2) == 0;
    }
    return false;
}

void show_error(const NativeString& text) {
    // GTK remembers that it was initialised even when no display could be
    // opened (the browser library may have tried first), so ask for the display.
    if (!gtk_init_check() || gdk_display_get_default() == nullptr) {
        // No display: the text still reaches whoever started us.
        std::fprintf(stderr, "Morvane: %s\n", text.c_str());
        std::fflush(stderr);
        return;
    }
    use_program_icon();
    // A path in the text may hold bytes that are not UTF-8; GTK shows only UTF-8.
    gchar* shown = g_utf8_make_valid(text.c_str(), static_cast<gssize>(text.size()));
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR,
                                               GTK_BUTTONS_OK, "%s", shown);
    G_GNUC_END_IGNORE_DEPRECATIONS
    g_free(shown);
    gtk_window_set_title(GTK_WINDOW(dialog), "Morvane");
    gtk_window_set_icon_name(GTK_WINDOW(dialog), icon_name);

    bool closed = false;
    g_object_ref(dialog);
    g_signal_connect(dialog, "response", G_CALLBACK(on_dialog_response), &closed);
    g_signal_connect(dialog, "destroy", G_CALLBACK(on_dialog_destroy), &closed);
    gtk_window_present(GTK_WINDOW(dialog));
    while (!closed) g_main_context_iteration(nullptr, TRUE);
    g_signal_handlers_disconnect_by_data(dialog, &closed);
    gtk_window_destroy(GTK_WINDOW(dialog));
    g_object_unref(dialog);
    // Let the window really leave the screen before the caller goes on.
    while (g_main_context_pending(nullptr)) g_main_context_iteration(nullptr, FALSE);
}

void* load_browser_library(const NativeString& exe_folder) {
    // The library draws on the display GTK opens. GTK answers "initialised"
    // to a second start even when its first found no display, so the library
    // can't be left to find that out itself once our message box has tried.
    if (!gtk_init_check() || gdk_display_get_default() == nullptr) return nullptr;
    const std::string file = exe_folder + "/" + browser_library_name;
    return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* browser_library_symbol(void* library, const char* name) {
    return dlsym(library, name);
}

void set_window_icons() {
    use_program_icon();
    GListModel* windows = gtk_window_get_toplevels();
    const guint count = g_list_model_get_n_items(windows);
    for (guint i = 0; i < count; ++i) {
        auto* window = static_cast<GtkWindow*>(g_list_model_get_item(windows, i));
        gtk_window_set_icon_name(window, icon_name);
        g_object_unref(window);
    }
}

}  // namespace platform
