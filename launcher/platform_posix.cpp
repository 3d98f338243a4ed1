// The launcher's platform layer for Linux and other POSIX systems with GTK 4.

#include "platform.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
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
        if (end == std::string::npos)
            end = folders.size();
        std::string folder = folders.substr(start, end - start);
        if (folder.empty())
            folder = ".";  // an empty entry is the current folder
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
    if (registered)
        return;
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr)
        return;
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

// A held stop request: the signal handler only notes the signal and wakes
// whichever loop waits, through a pipe, as that is all a handler may safely do.
volatile sig_atomic_t stop_signal = 0;
int stop_pipe[2] = {-1, -1};
std::function<void()> stop_action;

void wake_stop_pipe() {
    // A full pipe wakes the loop all the same.
    if (write(stop_pipe[1], "", 1) < 0) {
    }
}

void note_stop_signal(int signal_number) {
    const int saved_errno = errno;
    stop_signal = signal_number;
    wake_stop_pipe();
    errno = saved_errno;
}

gboolean on_stop_pipe(gint fd, GIOCondition, gpointer) {
    char drained[64];
    while (read(fd, drained, sizeof drained) > 0) {
    }
    if (stop_action)
        stop_action();
    return G_SOURCE_CONTINUE;
}

// The steps of turning the forked child into the host, for the line that
// tells which one failed.
enum class StartStep : int {
    parent_death_signal,
    session,
    signals,
    null_device,
    standard_streams,
    working_folder,
    descriptors,
    exec,
};

const char* step_name(StartStep step) {
    static const char* const names[] = {
        "parent-death signal", "new session",    "default signal actions", "open /dev/null",
        "standard streams",    "working folder", "close descriptors",      "exec",
    };
    static_assert(std::size(names) == static_cast<std::size_t>(StartStep::exec) + 1,
                  "one name for each step");
    const auto index = static_cast<std::size_t>(step);
    return index < std::size(names) ? names[index] : "exec";
}

// What a child that could not become the host writes back before it ends;
// nothing comes back when the interpreter took over.
struct StartFailure {
    StartStep step;
    int error;
};

// One line on standard error for a system call that failed, with its reason.
void report_failure(const char* area, const char* step, int error) {
    std::fprintf(stderr, "Morvane %s: %s: %s\n", area, step, std::strerror(error));
    std::fflush(stderr);
}

void report_start_failure(const char* step, int error) {
    report_failure("host start", step, error);
}

// Tells the launcher which step of the host start failed, and why, then ends
// the child before it becomes the host.
[[noreturn]] void abandon_start(int report_fd, StartStep step) {
    const StartFailure failure{step, errno};
    if (write(report_fd, &failure, sizeof failure) < 0) {
        // The launcher then sees no report and takes the start as done;
        // the interpreter was never run, so the wait for its port ends it.
    }
    _exit(127);
}

// Runs in the forked child of a launcher that may have other threads, so
// only calls that are safe there until the exec; everything else was made
// ready before the fork.
[[noreturn]] void become_host(const char* program, char* const arguments[],
                              const char* working_folder, pid_t launcher, int report_fd,
                              long open_max) {
    // Killed with the launcher however it ends, SIGKILL or crash included;
    // a launcher already gone before this took hold would never end us.
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0)
        abandon_start(report_fd, StartStep::parent_death_signal);
    if (getppid() != launcher)
        _exit(127);

    // Standard streams may have been closed in the launcher, so the report
    // pipe may sit where /dev/null goes.
    if (report_fd <= STDERR_FILENO) {
        report_fd = fcntl(report_fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        if (report_fd < 0)
            _exit(127);
    }

    // A session of its own keeps the host apart from our terminal; signals
    // start from their defaults whatever the launcher's libraries changed.
    if (setsid() < 0)
        abandon_start(report_fd, StartStep::session);
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
        if (signal_number == SIGKILL || signal_number == SIGSTOP)
            continue;
        // The C library keeps a few signals for itself and refuses them.
        if (sigaction(signal_number, &default_action, nullptr) != 0 && errno != EINVAL) {
            abandon_start(report_fd, StartStep::signals);
        }
    }

    const int null_fd = open("/dev/null", O_RDWR);
    if (null_fd < 0)
        abandon_start(report_fd, StartStep::null_device);
    for (const int stream : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (dup2(null_fd, stream) < 0)
            abandon_start(report_fd, StartStep::standard_streams);
    }
    if (null_fd > STDERR_FILENO)
        close(null_fd);

    if (chdir(working_folder) != 0)
        abandon_start(report_fd, StartStep::working_folder);

    // Nothing of ours is inherited: every other descriptor closes on exec
    // (the report pipe among them, which tells the launcher the exec worked).
    if (close_range(STDERR_FILENO + 1, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
        if (errno != ENOSYS && errno != EINVAL)
            abandon_start(report_fd, StartStep::descriptors);
        for (long fd = STDERR_FILENO + 1; fd < open_max; ++fd) {
            fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);  // EBADF for unused numbers
        }
    }

    sigset_t no_signals;
    sigemptyset(&no_signals);
    if (sigprocmask(SIG_SETMASK, &no_signals, nullptr) != 0)
        abandon_start(report_fd, StartStep::signals);
    execve(program, arguments, environ);
    abandon_start(report_fd, StartStep::exec);
}

void reap(pid_t pid) {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

// Waits for a connection under way, at most the probe's time; false when
// it failed or is still pending then.
bool connection_completes(int socket_fd) {
    using clock = std::chrono::steady_clock;
    const clock::time_point deadline = clock::now() + std::chrono::milliseconds(probe_timeout_ms);
    pollfd watched{socket_fd, POLLOUT, 0};
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
        const int ready = poll(&watched, 1, left > 0 ? static_cast<int>(left) : 0);
        if (ready > 0)
            break;
        if (ready == 0 || errno != EINTR)
            return false;
    }
    int error = 0;
    socklen_t size = sizeof error;
    return getsockopt(socket_fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}

// The locale that messages follow, as the C library picks it from the
// environment: the C locale when none is set.
const char* messages_locale() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0')
            return value;
    }
    return "C";
}

bool is_c_locale(const char* locale) {
    return std::strcmp(locale, "POSIX") == 0 || std::strcmp(locale, "C") == 0 ||
           std::strncmp(locale, "C.", 2) == 0;
}

}  // namespace

void hold_closed_standard_streams() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lower numbers are open, so the null device takes this one.
        if (open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY) < 0) {
            report_failure("standard streams", "open /dev/null", errno);
            return;
        }
    }
}

bool another_launcher_runs(const NativeString& exe_folder) {
    // Named by the folder's identity, so that every spelling of its path
    // meets the same mark, and by the user, as all users of the machine
    // share the abstract names. No file holds such a name: the kernel drops
    // it with the last descriptor bound to it, which we never close and
    // which closes on exec.
    struct stat folder;
    if (stat(exe_folder.c_str(), &folder) != 0) {
        report_failure("single start", "program folder", errno);
        return false;
    }
    char name[96];
    const int length = std::snprintf(name, sizeof name, "%corbex-morvane-%u-%llx-%llx", '\0',
                                     static_cast<unsigned>(getuid()),
                                     static_cast<unsigned long long>(folder.st_dev),
                                     static_cast<unsigned long long>(folder.st_ino));
    const int socket_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket_fd < 0) {
        report_failure("single start", "socket", errno);
        return false;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name, static_cast<std::size_t>(length));
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
    if (bind(socket_fd, reinterpret_cast<const sockaddr*>(&address), size) == 0)
        return false;
    const int error = errno;
    close(socket_fd);
    if (error == EADDRINUSE)
        return true;
    report_failure("single start", "bind", error);
    return false;
}

void sockets_start() {}

void sockets_cleanup() {}

NativeString program_folder() {
    // Fails for a program path longer than the system's path limit.
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return {};
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

bool is_running_program(const NativeString& path) {
    // The link names our file even where its path is too long to read.
    struct stat own;
    struct stat other;
    return stat("/proc/self/exe", &own) == 0 && stat(path.c_str(), &other) == 0 &&
           own.st_dev == other.st_dev && own.st_ino == other.st_ino;
}

std::vector<NativeString> python_candidates(const NativeString& exe_folder,
                                            const NativeString& from_python_txt) {
    // A plain `python` may still be Python 2, or no Python at all.
    NativeString on_path3 = search_program_path("python3");
    NativeString on_path = search_program_path("python");
    return {exe_folder + "/python/bin/python3", exe_folder + "/../python/bin/python3",
            from_python_txt, std::move(on_path3), std::move(on_path)};
}

bool start_host(const NativeString& python, const NativeString& script,
                const NativeString& working_folder, HostProcess& host) {
    // The path was found relative to our own current folder; the child starts
    // in another one, so it gets the path that names the same file there.
    std::error_code error;
    std::string program = std::filesystem::absolute(python, error).native();
    if (error)
        program = python;
    std::string script_argument = script;
    std::string switch_argument = "--no-browser";
    char* arguments[] = {program.data(), script_argument.data(), switch_argument.data(), nullptr};
    const long open_max = sysconf(_SC_OPEN_MAX);

    // A spawn call can't set the parent-death signal, so fork and exec; the
    // child reports a failed step through a pipe that the exec closes. The
    // signal follows the thread that forks: the launcher's one thread, which
    // lasts as long as the process.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        report_start_failure("pipe", errno);
        return false;
    }
    // No handler of ours may run in the child before it has reset them.
    sigset_t all_signals;
    sigset_t previous_signals;
    sigfillset(&all_signals);
    const int masked = pthread_sigmask(SIG_SETMASK, &all_signals, &previous_signals);
    if (masked != 0) {
        report_start_failure("signal mask", masked);
        close(report[0]);
        close(report[1]);
        return false;
    }
    const pid_t launcher = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        become_host(program.c_str(), arguments, working_folder.c_str(), launcher, report[1],
                    open_max);
    }
    const int fork_error = errno;
    pthread_sigmask(SIG_SETMASK, &previous_signals, nullptr);
    close(report[1]);
    if (pid < 0) {
        close(report[0]);
        report_start_failure("fork", fork_error);
        return false;
    }

    StartFailure failure{};
    ssize_t got;
    do {
        got = read(report[0], &failure, sizeof failure);
    } while (got < 0 && errno == EINTR);
    const int read_error = errno;
    close(report[0]);
    if (got != 0) {
        if (got == static_cast<ssize_t>(sizeof failure)) {
            report_start_failure(step_name(failure.step), failure.error);
        } else {
            // Whatever the child is doing, it is not known to be the host.
            kill(pid, SIGKILL);
            report_start_failure("start report", got < 0 ? read_error : EIO);
        }
        reap(pid);
        return false;
    }
    host.started = true;
    host.id = pid;
    return true;
}

void end_host(const HostProcess& host, unsigned) {
    if (!host.started)
        return;
    const pid_t pid = static_cast<pid_t>(host.id);
    if (kill(pid, SIGKILL) != 0)
        report_failure("host end", "kill", errno);
    reap(pid);
}

void hold_stop_requests() {
    if (stop_pipe[0] >= 0)
        return;
    if (pipe2(stop_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        // The signals keep ending the launcher; the host then dies with it.
        report_failure("stop requests", "pipe", errno);
        stop_pipe[0] = stop_pipe[1] = -1;
        return;
    }
    g_unix_fd_add(stop_pipe[0], G_IO_IN, on_stop_pipe, nullptr);
    struct sigaction action {};
    action.sa_handler = note_stop_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
        // A signal ignored by whoever started us (nohup, a background job)
        // stays ignored.
        struct sigaction current {};
        if (sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) {
            continue;
        }
        if (sigaction(signal_number, &action, nullptr) != 0) {
            report_failure("stop requests", strsignal(signal_number), errno);
        }
    }
}

bool stop_requested() {
    return stop_signal != 0;
}

void on_stop_request(std::function<void()> action) {
    stop_action = std::move(action);
    // A request that came before the action, its wake-up perhaps already
    // taken by another loop, still reaches it.
    if (stop_action && stop_signal != 0 && stop_pipe[1] >= 0)
        wake_stop_pipe();
}

bool local_port_answers(int port) {
    const int socket_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
    if (socket_fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    bool answered =
        connect(socket_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (!answered && errno == EINPROGRESS)
        answered = connection_completes(socket_fd);
    close(socket_fd);
    return answered;
}

void pause_ms(unsigned milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool interface_language_is_french() {
    const char* locale = messages_locale();
    // Desktops name the interface language in LANGUAGE, a list of preferences
    // whose first entry wins; like gettext, a C locale leaves it unread.
    const char* languages = std::getenv("LANGUAGE");
    if (languages != nullptr && !is_c_locale(locale)) {
        const size_t first_length = std::strcspn(languages, ":");
        if (first_length > 0)
            return std::strncmp(languages, "fr", 2) == 0;
    }
    return std::strncmp(locale, "fr", 2) == 0;
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
    // A stop request closes the box: the launcher then ends as it would after it.
    while (!closed && !stop_requested())
        g_main_context_iteration(nullptr, TRUE);
    g_signal_handlers_disconnect_by_data(dialog, &closed);
    gtk_window_destroy(GTK_WINDOW(dialog));
    g_object_unref(dialog);
    // Let the window really leave the screen before the caller goes on.
    while (g_main_context_pending(nullptr))
        g_main_context_iteration(nullptr, FALSE);
}

void* load_browser_library(const NativeString& exe_folder) {
    // The library draws on the display GTK opens. GTK answers "initialised"
    // to a second start even when its first found no display, so the library
    // can't be left to find that out itself once our message box has tried.
    if (!gtk_init_check() || gdk_display_get_default() == nullptr)
        return nullptr;
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
