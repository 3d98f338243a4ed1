#include "platform.h"

#include <glib.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "browser_window.h"
#include "temp_folder.h"

namespace {

// Sets PATH for one test and puts it back after it.
class PathVariable {
public:
    explicit PathVariable(const std::string& value)
        : old_(std::getenv("PATH") ? std::getenv("PATH") : "") {
        setenv("PATH", value.c_str(), 1);
    }
    ~PathVariable() { setenv("PATH", old_.c_str(), 1); }

private:
    std::string old_;
};

std::filesystem::path executable(const TempFolder& folder, const std::string& relative,
                                 const std::string& content) {
    const auto file = folder.write(relative, content);
    chmod(file.c_str(), 0755);
    return file;
}

TEST(Candidates, HostScriptPlacesInOrder) {
    EXPECT_EQ(platform::host_script_candidates("/opt/game"),
              (std::vector<NativeString>{"/opt/game/morvane/launcher_host.py",
                                         "/opt/game/launcher/morvane/launcher_host.py",
                                         "/opt/game/../launcher/morvane/launcher_host.py"}));
}

TEST(Candidates, PythonPlacesInOrderWithTheSearchPathLastPython3First) {
    TempFolder folder;
    folder.write("a/python", "not executable");
    std::filesystem::create_directories(folder.path() / "b/python");  // a folder is no program
    executable(folder, "c/python", "#!/bin/sh\n");
    executable(folder, "c/python3", "#!/bin/sh\n");
    executable(folder, "d/python3", "#!/bin/sh\n");
    const std::string a = folder.str() + "/a", b = folder.str() + "/b", c = folder.str() + "/c",
                      d = folder.str() + "/d";
    {
        PathVariable path(a + ":" + b + ":" + d + ":" + c);
        EXPECT_EQ(platform::python_candidates("/opt/game", "/from/python.txt"),
                  (std::vector<NativeString>{"/opt/game/python/bin/python3",
                                             "/opt/game/../python/bin/python3", "/from/python.txt",
                                             d + "/python3", c + "/python"}));
    }
    {
        PathVariable path(a + ":" + d);
        EXPECT_EQ(
            platform::python_candidates("/opt/game", ""),
            (std::vector<NativeString>{"/opt/game/python/bin/python3",
                                       "/opt/game/../python/bin/python3", "", d + "/python3", ""}));
    }
}

TEST(Candidates, PythonTxtBytesAreThePathAsTheyAre) {
    EXPECT_EQ(platform::python_txt_candidate("/opt/pyth\xC3\xB6n/bin/python3"),
              "/opt/pyth\xC3\xB6n/bin/python3");
}

TEST(ProgramFolder, IsTheFolderOfThisTestProgram) {
    char buffer[4096];
    const ssize_t size = readlink("/proc/self/exe", buffer, sizeof buffer);
    ASSERT_GT(size, 0);
    EXPECT_EQ(platform::program_folder(),
              std::filesystem::path(std::string(buffer, size)).parent_path().native());
}

// Two starts of one folder are caught end to end with the real program.
TEST(SingleStart, EachFolderHasItsOwnMarkUnderAnyOfItsNames) {
    TempFolder folder;
    std::filesystem::create_directories(folder.path() / "a");
    std::filesystem::create_directories(folder.path() / "b");
    std::filesystem::create_directory_symlink(folder.path() / "a", folder.path() / "link");
    EXPECT_FALSE(platform::another_launcher_runs(folder.str() + "/a"));
    EXPECT_TRUE(platform::another_launcher_runs(folder.str() + "/link/"));
    EXPECT_FALSE(platform::another_launcher_runs(folder.str() + "/b"));
    // No mark to take: the launch goes on, and says why.
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(platform::another_launcher_runs(folder.str() + "/gone"));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              std::string("Morvane single start: program folder: ") + std::strerror(ENOENT) + "\n");
}

TEST(HostStart, ProgramsThatCannotRunAreStartFailuresWithTheirReason) {
    TempFolder folder;
    std::filesystem::create_directories(folder.path() / "a_folder");
    folder.write("plain_text", "print('hello')\n");
    executable(folder, "no_program", "neither ELF nor #! line\n");
    const std::string script = folder.write("script", "").string();
    const struct {
        const char* program;
        std::string working_folder;
        std::string reason;
    } cases[] = {
        {"a_folder", folder.str(), std::string("exec: ") + std::strerror(EACCES)},
        {"plain_text", folder.str(), std::string("exec: ") + std::strerror(EACCES)},
        {"no_program", folder.str(), std::string("exec: ") + std::strerror(ENOEXEC)},
        {"missing", folder.str(), std::string("exec: ") + std::strerror(ENOENT)},
        {"/usr/bin/python3", folder.str() + "/gone",
         std::string("working folder: ") + std::strerror(ENOENT)},
    };
    for (const auto& c : cases) {
        const std::string program =
            c.program[0] == '/' ? c.program : folder.str() + "/" + c.program;
        platform::HostProcess host;
        ::testing::internal::CaptureStderr();
        EXPECT_FALSE(platform::start_host(program, script, c.working_folder, host)) << c.program;
        const std::string output = ::testing::internal::GetCapturedStderr();
        EXPECT_FALSE(host.started) << c.program;
        EXPECT_EQ(output, "Morvane host start: " + c.reason + "\n") << c.program;
    }
}

// What the host receives and holds is checked end to end with the real program.
TEST(HostStart, EndedHostIsReaped) {
    TempFolder folder;
    const std::string script = folder.write("host.py", "import time\ntime.sleep(60)\n").string();
    platform::HostProcess host;
    ASSERT_TRUE(platform::start_host("/usr/bin/python3", script, folder.str(), host));
    ASSERT_TRUE(host.started);
    platform::end_host(host, 0);
    EXPECT_EQ(waitpid(static_cast<pid_t>(host.id), nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST(HostStart, RelativeInterpreterPathIsTakenFromTheLauncherFolder) {
    TempFolder folder;
    executable(folder, "bin/py", "#!/bin/sh\ntouch \"$1\"\n");
    std::filesystem::create_directories(folder.path() / "work");
    const auto old = std::filesystem::current_path();
    std::filesystem::current_path(folder.path());
    platform::HostProcess host;
    const bool started =
        platform::start_host("bin/py", folder.str() + "/work/ran", folder.str() + "/work", host);
    std::filesystem::current_path(old);
    ASSERT_TRUE(started);
    waitpid(static_cast<pid_t>(host.id), nullptr, 0);
    EXPECT_TRUE(std::filesystem::exists(folder.path() / "work/ran"));
}

TEST(OwnProgram, IsKnownUnderAnyOfItsNames) {
    TempFolder folder;
    std::filesystem::create_symlink("/proc/self/exe", folder.path() / "link");
    std::filesystem::copy_file("/proc/self/exe", folder.path() / "copy");
    EXPECT_TRUE(platform::is_running_program(folder.str() + "/link"));
    EXPECT_FALSE(platform::is_running_program(folder.str() + "/copy"));
    EXPECT_FALSE(platform::is_running_program(folder.str() + "/missing"));
}

// In a child process of its own, as it changes how signals are handled.
TEST(StopRequests, SignalIsHeldAndReachesAnActionSetAfterIt) {
    EXPECT_EXIT(
        {
            platform::hold_stop_requests();
            raise(SIGHUP);
            if (!platform::stop_requested())
                _exit(2);
            // Another loop takes the wake-up first, as a message box's would.
            while (g_main_context_iteration(nullptr, FALSE)) {
            }
            bool stopped = false;
            platform::on_stop_request([&stopped] { stopped = true; });
            for (int turn = 0; turn < 100 && !stopped; ++turn) {
                g_main_context_iteration(nullptr, FALSE);
                usleep(10000);
            }
            _exit(stopped ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(ErrorMessage, GoesToStandardErrorWithoutDisplay) {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    ::testing::internal::CaptureStderr();
    platform::show_error("Python did not start: /x");
    const std::string output = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(output.find("Morvane: Python did not start: /x\n"), std::string::npos) << output;
}

TEST(BrowserWindowConstruction, ThrowsWhenTheLibraryIsMissingOrNotTheBrowserLibrary) {
    TempFolder folder;
    EXPECT_THROW(BrowserWindow window(folder.str()), BrowserUnavailable);
    // A loadable library that is not the browser library.
    std::filesystem::create_symlink("/lib/x86_64-linux-gnu/libz.so.1",
                                    folder.path() / "libwebview-x64.so");
    EXPECT_THROW(BrowserWindow window(folder.str()), BrowserUnavailable);
}

TEST(BrowserWindowConstruction, ThrowsWhenNoWindowCanBeMade) {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    // The real library, laid beside the program by the build.
    EXPECT_THROW(BrowserWindow window(MORVANE_PROGRAM_DIR), BrowserUnavailable);
}

}  // namespace
