#include "picker.h"

#include "utf8_paths.h"

#include <algorithm>
#include <cstdlib>
#include <system_error>
#include <utility>

// SDL reads the filter list until the callback has run, so it lives forever.
static const SDL_DialogFileFilter pkg_filters[] = {
    {"PS4 PKG files", "pkg"},
};

std::filesystem::path choose_start_folder() {
    std::string start_dir;
    std::string home;
    std::string candidate = "/";
    if (utf8_environment("ORBEX_SETUP_START_DIR", start_dir) && !start_dir.empty())
        candidate = start_dir;
    else if (utf8_environment("HOME", home) && !home.empty())
        candidate = home;

    // Once a variable is picked the other is not tried: a start folder that
    // names no folder means the root, not the player's home.
    const std::filesystem::path folder = path_from_utf8(candidate);
    std::error_code error;
    if (std::filesystem::status(folder, error).type() != std::filesystem::file_type::directory)
        return "/";
    std::filesystem::path absolute = std::filesystem::absolute(folder, error);
    if (error)
        return "/";
    return absolute;
}

std::string dialog_location(const std::filesystem::path& start_folder) {
    std::string text = utf8_from_path(start_folder);
    // Both zenity and the Windows dialog take a location without a trailing
    // separator for a file: they open its parent, with the folder's name
    // merely selected or typed in, where the player expects to be inside it.
#ifdef _WIN32
    if (text.empty() || (text.back() != '\\' && text.back() != '/'))
        text += '\\';
#else
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

#ifdef _WIN32
// SDL's Windows chooser, splitting an answer of several files, steps through
// the names by their UTF-8 length where it means their UTF-16 length: past a
// folder or a name with a letter outside ASCII it starts the next name too
// late, so that name loses its first letters, becomes another file's name
// or vanishes. The names up to the first one with such a letter come
// through whole, the ones after it do not: an answer of several names is
// sure only when none but its last holds one (a folder with such a letter
// is in every name).
static bool garbled_by_windows_chooser(const std::vector<std::string>& names) {
    for (std::size_t i = 0; i + 1 < names.size(); ++i) {
        for (const char byte : names[i]) {
            if (static_cast<unsigned char>(byte) >= 0x80)
                return true;
        }
    }
    return false;
}
#endif

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
#ifdef _WIN32
    if (garbled_by_windows_chooser(names)) {
        state.notice = "Pick these files one at a time: their names can't be taken together.";
        return false;
    }
#endif

    // A pick is taken whole or not at all.
    std::vector<std::filesystem::path> accepted;
    accepted.reserve(names.size());
    for (const std::string& name : names) {
        const std::filesystem::path path = path_from_utf8(name);
        // The chooser names files absolutely. A relative name is what is left
        // of a name holding a line feed once the chooser's answer, one name
        // a line, split it; it would be taken in the current folder.
        if (!path.is_absolute() || !regular_pkg(path)) {
            state.notice = "Selected file is not a readable .pkg.";
            return false;
        }
        std::error_code error;
        std::filesystem::path absolute = std::filesystem::absolute(path, error);
        // The result lines carry UTF-8, which every chosen path must have.
        if (error || utf8_from_path(absolute).empty()) {
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
    // cannot be handed over whole. Read in the system's own form, which
    // every name has.
    for (const auto unit : path.native()) {
        if (unit == '\n' || unit == '\r')
            return false;
    }
    std::error_code error;
    if (std::filesystem::symlink_status(path, error).type() == std::filesystem::file_type::symlink)
        return false;
    if (std::filesystem::status(path, error).type() != std::filesystem::file_type::regular)
        return false;
    // Only ASCII letters fold, as in the classic locale.
    const std::filesystem::path::string_type extension = path.extension().native();
    static const char pkg[] = ".pkg";
    if (extension.size() != sizeof pkg - 1)
        return false;
    for (std::size_t i = 0; i < extension.size(); ++i) {
        auto unit = extension[i];
        if (unit >= 'A' && unit <= 'Z')
            unit = static_cast<decltype(unit)>(unit - 'A' + 'a');
        if (unit != static_cast<decltype(unit)>(pkg[i]))
            return false;
    }
    return true;
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
