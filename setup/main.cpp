// orbex-setup: lets the player pick the game's update or add-on packages, or
// shows the progress of their installation, which the caller carries out.
// Answers only through standard output (the chosen paths) and the exit code.
#include "background.h"
#include "base_folder.h"
#include "modes.h"
#include "picker.h"
#include "progress.h"
#include "progress_screen.h"
#include "selection_screen.h"
#include "utf8_paths.h"

#include <SDL3/SDL.h>
#include <imgui.h>
#include <imgui_impl_sdl3.h>
#include <imgui_impl_sdlrenderer3.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <system_error>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

static const char* const font_candidates[] = {
    "../gpu/third_party/fonts/DejaVuSans.ttf",
    "gpu/third_party/fonts/DejaVuSans.ttf",
    "assets/fonts/DejaVuSans.ttf",
    "fonts/DejaVuSans.ttf",
};

// Adds the first candidate font that loads; false leaves the built-in font.
static bool load_font(ImGuiIO& io, const std::filesystem::path& base) {
    // Dear ImGui treats an unreadable or malformed font as a user error: it
    // asserts and logs. Here such a file only means "try the next one".
    const bool assert_on_error = io.ConfigErrorRecoveryEnableAssert;
    const bool log_on_error = io.ConfigErrorRecoveryEnableDebugLog;
    io.ConfigErrorRecoveryEnableAssert = false;
    io.ConfigErrorRecoveryEnableDebugLog = false;
    bool loaded = false;
    for (const char* relative : font_candidates) {
        const std::filesystem::path candidate = base / relative;
        std::error_code error;
        if (!std::filesystem::is_regular_file(std::filesystem::status(candidate, error)))
            continue;
        // Dear ImGui opens the file by its UTF-8 name on every system.
        const std::string text = utf8_from_path(candidate);
        if (io.Fonts->AddFontFromFileTTF(text.c_str(), 16.0f, nullptr, nullptr)) {
            std::fprintf(stderr, "Vantorra setup font: %s\n", text.c_str());
            loaded = true;
            break;
        }
    }
    io.ConfigErrorRecoveryEnableAssert = assert_on_error;
    io.ConfigErrorRecoveryEnableDebugLog = log_on_error;
    return loaded;
}

static void apply_style(bool font_loaded) {
    ImGuiStyle& style = ImGui::GetStyle();
    if (!font_loaded)
        style.FontScaleMain = 1.16f;  // the built-in font is small next to the intended one
    style.WindowRounding = 9.0f;
    style.FrameRounding = 5.0f;
    // A transparent window background lets the picture and veils show through.
    style.Colors[ImGuiCol_WindowBg] = ImVec4(0.14f, 0.08f, 0.15f, 0.00f);
    style.Colors[ImGuiCol_FrameBg] = ImVec4(0.24f, 0.14f, 0.23f, 1.00f);
    style.Colors[ImGuiCol_Button] = ImVec4(0.58f, 0.21f, 0.40f, 1.00f);
    style.Colors[ImGuiCol_ButtonHovered] = ImVec4(0.77f, 0.33f, 0.55f, 1.00f);
    style.Colors[ImGuiCol_ButtonActive] = ImVec4(0.88f, 0.41f, 0.60f, 1.00f);
    style.Colors[ImGuiCol_PlotHistogram] = ImVec4(0.18f, 0.78f, 0.42f, 1.00f);
}

static void draw_veils(SDL_Renderer* renderer, int output_w, int output_h) {
    SDL_SetRenderDrawBlendMode(renderer, SDL_BLENDMODE_BLEND);
    SDL_SetRenderDrawColor(renderer, 27, 9, 27, 135);
    SDL_RenderFillRect(renderer, nullptr);
    SDL_SetRenderDrawColor(renderer, 24, 7, 24, 125);
    const SDL_FRect whole = {0.0f, 0.0f, static_cast<float>(output_w),
                             static_cast<float>(output_h)};
    SDL_RenderFillRect(renderer, &whole);
    SDL_SetRenderDrawBlendMode(renderer, SDL_BLENDMODE_NONE);
}

// What the run holds of SDL and Dear ImGui, as far as start-up got.
struct Held {
    bool sdl = false;
    SDL_Window* window = nullptr;
    SDL_Renderer* renderer = nullptr;
    bool imgui_context = false;
    bool platform_backend = false;
    bool renderer_backend = false;
    SDL_Texture* background_texture = nullptr;
};

// Releases whatever is held, in the reverse order of acquisition: the one
// teardown of every ending, start-up failures included.
static void tear_down(const Held& held) {
    if (held.background_texture)
        SDL_DestroyTexture(held.background_texture);
    if (held.renderer_backend)
        ImGui_ImplSDLRenderer3_Shutdown();
    if (held.platform_backend)
        ImGui_ImplSDL3_Shutdown();
    if (held.imgui_context)
        ImGui::DestroyContext();
    if (held.renderer)
        SDL_DestroyRenderer(held.renderer);
    if (held.window)
        SDL_DestroyWindow(held.window);
    if (held.sdl)
        SDL_Quit();
}

#ifndef _WIN32
// A standard stream that the caller closed is held on /dev/null, opened for
// reading only: no file the libraries open later takes its number (the X
// connection would otherwise receive our lines), and writing to it still
// fails as writing to a closed stream does.
static void hold_closed_standard_streams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        const int held = open("/dev/null", O_RDONLY);
        if (held == -1) {
            if (fd != 2)
                std::fprintf(stderr, "Setup could not hold standard stream %d: %s\n", fd,
                             std::strerror(errno));
            return;
        }
        if (held != fd)  // cannot happen: the lower numbers are taken
            close(held);
    }
}
#endif

// SDL makes a close request of SIGTERM and SIGINT. A hang-up (the terminal
// or session that started the tool went away) must end it the same way, not
// kill it: the handler only notes it, and the frame loop takes it as one
// more close request in every frame until the run ends.
static volatile std::sig_atomic_t hangup_received = 0;

#ifndef _WIN32
static void note_hangup(int) {
    hangup_received = 1;
}

static void take_hangups() {
    // Ignored by whoever started us (nohup): it stays ignored.
    struct sigaction current = {};
    if (sigaction(SIGHUP, nullptr, &current) == 0 && current.sa_handler == SIG_IGN)
        return;
    struct sigaction action = {};
    action.sa_handler = note_hangup;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (sigaction(SIGHUP, &action, nullptr) != 0)
        std::fprintf(stderr, "Setup could not take SIGHUP: %s\n", std::strerror(errno));
}
#endif

// One line per chosen path. False, with errno telling why, as soon as
// anything did not reach the stream: a caller must never mistake part of a
// list for the whole.
static bool write_result_lines(const std::set<std::filesystem::path>& chosen) {
    for (const std::filesystem::path& path : chosen) {
        // Every chosen path has a UTF-8 form (it came in as one); an empty
        // line would hand the caller no package at all.
        const std::string line = utf8_from_path(path);
        if (line.empty()) {
            errno = EILSEQ;
            return false;
        }
        if (std::fputs(line.c_str(), stdout) == EOF || std::fputc('\n', stdout) == EOF)
            return false;
    }
    return std::fflush(stdout) == 0;
}

int main(int argc, char** argv) {
#ifndef _WIN32
    hold_closed_standard_streams();
    // A reader that went away is reported through the write's result; the
    // signal would end the tool before it could say so.
    if (std::signal(SIGPIPE, SIG_IGN) == SIG_ERR)
        std::fprintf(stderr, "Setup could not ignore SIGPIPE: %s\n", std::strerror(errno));
    take_hangups();
#endif
    // The words as UTF-8, the form of every path inside the tool; they live
    // as long as the run, since the mode keeps the status file's path.
    const std::vector<std::string> arguments = utf8_arguments(argc, argv);
    std::vector<const char*> words;
    for (const std::string& argument : arguments)
        words.push_back(argument.c_str());
    Mode mode;
    if (!parse_command_line(static_cast<int>(words.size()), words.data(), mode)) {
        std::fputs(usage_text, stderr);
        return 2;
    }

    Held held;
    if (!SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS)) {
        std::fprintf(stderr, "SDL setup failed: %s\n", SDL_GetError());
        return 2;
    }
    held.sdl = true;
    // Hidden until the renderer is there: SDL replaces a window whose kind
    // does not suit the renderer, and a shown one would be put on screen,
    // taken off and put on again, each time waiting for the display server.
    SDL_Window* window = SDL_CreateWindow("Vantorra | Update and DLC Setup", 720, 400,
                                          SDL_WINDOW_RESIZABLE | SDL_WINDOW_HIDDEN);
    if (!window) {
        std::fprintf(stderr, "Setup window failed: %s\n", SDL_GetError());
        tear_down(held);
        return 2;
    }
    held.window = window;
    SDL_Renderer* renderer = SDL_CreateRenderer(window, nullptr);
    if (!renderer) {
        std::fprintf(stderr, "Setup renderer failed: %s\n", SDL_GetError());
        tear_down(held);
        return 2;
    }
    held.renderer = renderer;
    if (!SDL_ShowWindow(window)) {
        std::fprintf(stderr, "Setup window failed: %s\n", SDL_GetError());
        tear_down(held);
        return 2;
    }

    IMGUI_CHECKVERSION();
    ImGui::CreateContext();
    held.imgui_context = true;
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;  // no settings file is read or written
    io.ConfigFlags |= ImGuiConfigFlags_NavEnableKeyboard;
    ImGui::StyleColorsDark();

    const std::filesystem::path base = base_folder();
    apply_style(load_font(io, base));

    held.platform_backend = ImGui_ImplSDL3_InitForSDLRenderer(window, renderer);
    held.renderer_backend = held.platform_backend && ImGui_ImplSDLRenderer3_Init(renderer);
    if (!held.renderer_backend) {
        std::fputs("Unable to initialize setup GUI.\n", stderr);
        tear_down(held);
        return 2;
    }

    SDL_Texture* background_texture = load_background(renderer, base);
    held.background_texture = background_texture;

    SelectionState selection;
    selection.start_folder = choose_start_folder();
    NativePicker picker;
    Progress progress;
    bool accepted = false;
    bool deferred_quit = false;

    for (;;) {
        bool quit_requested = false;
        // While the chooser is open its callback still needs the picker
        // record, so a close request waits for its answer.
        const auto request_close = [&] {
            if (picker.open)
                deferred_quit = true;
            else
                quit_requested = true;
        };
        SDL_Event event;
        while (SDL_PollEvent(&event)) {
            ImGui_ImplSDL3_ProcessEvent(&event);
            if (event.type == SDL_EVENT_QUIT || event.type == SDL_EVENT_WINDOW_CLOSE_REQUESTED)
                request_close();
        }
        if (hangup_received)
            request_close();
        if (take_picker_result(picker, selection, deferred_quit, mode.dlc_mode))
            quit_requested = true;
        if (quit_requested)
            break;

        if (mode.progress_mode)
            progress = read_progress(mode.status_path, std::move(progress));

        ImGui_ImplSDLRenderer3_NewFrame();
        ImGui_ImplSDL3_NewFrame();
        ImGui::NewFrame();

        ImGui::SetNextWindowPos(ImVec2(0.0f, 0.0f), ImGuiCond_Always, ImVec2(0.0f, 0.0f));
        ImGui::SetNextWindowSize(io.DisplaySize, ImGuiCond_Always);
        ImGui::Begin("##ORBEXSetup", nullptr,
                     ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize |
                         ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoScrollbar |
                         ImGuiWindowFlags_NoCollapse | ImGuiWindowFlags_NoSavedSettings);
        ImGui::TextColored(ImVec4(0.98f, 0.55f, 0.75f, 1.00f), "%s / PC SETUP", "Vantorra");
        ImGui::Separator();
        ImGui::Spacing();

        bool leave_after_frame = false;
        if (mode.progress_mode) {
            draw_progress_screen(progress, progress_texts(mode.mode_word), SDL_GetTicks());
        } else {
            const SelectionButtons pressed = draw_selection_screen(mode, selection, picker, window);
            leave_after_frame = pressed.accept || pressed.second;
            if (pressed.accept)
                accepted = true;
        }
        ImGui::End();
        ImGui::Render();

        SDL_SetRenderDrawColor(renderer, 33, 15, 31, 255);
        SDL_RenderClear(renderer);
        int output_w = 0;
        int output_h = 0;
        SDL_GetRenderOutputSize(renderer, &output_w, &output_h);
        if (output_w > 0 && output_h > 0) {
            if (background_texture)
                draw_background(renderer, output_w, output_h, background_texture);
            draw_veils(renderer, output_w, output_h);
        }
        ImGui_ImplSDLRenderer3_RenderDrawData(ImGui::GetDrawData(), renderer);
        SDL_RenderPresent(renderer);
        SDL_Delay(16);

        if (leave_after_frame)
            break;
    }

    tear_down(held);

    // Results go out only once the window is gone.
    if (!accepted)
        return 1;
    if (!write_result_lines(selection.chosen)) {
        std::fprintf(stderr, "Setup result not delivered: %s\n", std::strerror(errno));
        return 2;
    }
    return 0;
}
