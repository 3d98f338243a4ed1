#include "picker.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <system_error>
#include <utility>

// SDL reads the filter list until the callback has run, so it lives forever.
static const SDL_DialogFileFilter pkg_filters[] = {
    {"PS4 PKG files", "pkg"},
};

std::filesystem::path choose_start_folder() {
    const char* start_dir = std::getenv("ORBEX_SETUP_START_DIR");
    const char* home = std::getenv("HOME");
    const char* candidate = "/";
    if (start_dir && *start_dir)
        candidate = start_dir;
    else if (home && *home)
        candidate = home;

    // Once a variable is picked the other is not tried: a start folder that
    // names no folder means the root, not the player's home.
    const std::filesystem::path folder = candidate;
    std::error_code error;
    if (std::filesystem::status(folder, error).type() != std::filesystem::file_type::directory)
        return "/";
    std::filesystem::path absolute = std::filesystem::absolute(folder, error);
    if (error)
        return "/";
    return absolute;
}

std::string dialog_location(const std::filesystem::path& start_folder) {
    std::string text = start_folder.string();
#ifndef _WIN32
    // zenity opens a folder named without a trailing separator at its parent,
    // with the folder merely selected; the player expects to be inside it.
    if (text.empty() || text.back() != '/')
        text += '/';
#endif
    return text;
}

void open_pkg_dialog(NativePicker& picker, SDL_Window* window,
                     const std::filesystem::path& start_folder, bool dlc_mode) {
    picker.default_location = dialog_location(start_folder);
    // SDL may answer before SDL_ShowOpenFileDialog returns.
    picker.open = true;
    SDL_ShowOpenFileDialog(picker_callback, &picker, window, pkg_filters, 1,
                           picker.default_location.c_str(), dlc_mode);
}

void SDLCALL picker_callback(void* userdata, const char* const* filelist, int) {
    NativePicker& picker = *static_cast<NativePicker*>(userdata);
    std::lock_guard<std::mutex> lock(picker.mutex);
    picker.failed = filelist == nullptr;
    picker.files.clear();
    if (filelist) {
        for (const char* const* name = filelist; *name; ++name)
            picker.files.emplace_back(*name);
    }
    picker.done = true;
}

bool take_picker_result(NativePicker& picker, SelectionState& state, bool deferred_quit,
                        bool dlc_mode) {
    if (!picker.open)
        return false;
    bool failed = false;
    std::vector<std::string> names;
    {
        std::lock_guard<std::mutex> lock(picker.mutex);
        if (!picker.done)
            return false;
        failed = picker.failed;
        names = std::move(picker.files);
        picker.files.clear();
        picker.done = false;
    }
    picker.open = false;

    // The record must outlive the chooser, so a close request waited for this
    // answer; it is not looked at.
    if (deferred_quit)
        return true;

    if (failed) {
        state.manual_entry_shown = true;
        state.notice = "Desktop chooser unavailable. Enter a PKG path below.";
        return false;
    }

    // SDL's zenity road splits zenity's empty output on a cancel into one
    // empty name; an empty name is no name at all.
    names.erase(std::remove(names.begin(), names.end(), std::string()), names.end());
    if (names.empty())
        return false;

    // A pick is taken whole or not at all.
    std::vector<std::filesystem::path> accepted;
    accepted.reserve(names.size());
    for (const std::string& name : names) {
        const std::filesystem::path path = name;
        // The chooser names files absolutely. A relative name is what is left
        // of a name holding a line feed once the chooser's answer, one name
        // a line, split it; it would be taken in the current folder.
        if (!path.is_absolute() || !regular_pkg(path)) {
            state.notice = "Selected file is not a readable .pkg.";
            return false;
        }
        std::error_code error;
        std::filesystem::path absolute = std::filesystem::absolute(path, error);
        if (error) {
            state.notice = "Couldn't resolve the selected file path.";
            return false;
        }
        accepted.push_back(std::move(absolute));
    }
    commit_pkgs(state, accepted, dlc_mode);
    return false;
}

bool regular_pkg(const std::filesystem::path& path) {
    // The caller gets one path a line: a name with a line break in it
    // cannot be handed over whole.
    if (path.string().find_first_of("\n\r") != std::string::npos)
        return false;
    std::error_code error;
    if (std::filesystem::symlink_status(path, error).type() == std::filesystem::file_type::symlink)
        return false;
    if (std::filesystem::status(path, error).type() != std::filesystem::file_type::regular)
        return false;
    // Only ASCII letters fold: the program never changes the classic locale.
    std::string extension = path.extension().string();
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".pkg";
}

// Adds a path unless it names a file already chosen. When a file answers,
// its identity decides (other spellings, a folder reached through a link, a
// hard link); otherwise the lexically normal form does. The forms alone
// would join a/link/../x.pkg and a/x.pkg, which can be two files.
static void add_chosen(SelectionState& state, const std::filesystem::path& path) {
    FileIdentity identity;
    const bool new_file = query_file_identity(path, identity)
                              ? state.chosen_files.insert(identity).second
                              : state.chosen_unreached.insert(path.lexically_normal()).second;
    if (new_file)
        state.chosen.insert(path);
}

void commit_pkgs(SelectionState& state, const std::vector<std::filesystem::path>& paths,
                 bool dlc_mode) {
    if (paths.empty())
        return;
    if (dlc_mode) {
        // One entry per file, or the caller installs it once per spelling;
        // the spelling that came first stays.
        for (const std::filesystem::path& path : paths)
            add_chosen(state, path);
    } else {
        // The caller installs exactly one update package, even should a
        // chooser hand back several names for a single-file request.
        clear_chosen(state);
        add_chosen(state, paths.front());
    }
    state.start_folder = paths.front().parent_path();
    state.notice.clear();
}

void clear_chosen(SelectionState& state) {
    state.chosen.clear();
    state.chosen_files.clear();
    state.chosen_unreached.clear();
}
