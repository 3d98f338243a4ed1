#pragma once
// Package paths from the desktop's file chooser, and which of them are kept.
#include "file_identity.h"

#include <SDL3/SDL.h>

#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <vector>

// Hand-over between the main thread and the chooser's callback, which SDL may
// run on a thread of its own. `mutex` guards done, failed and files only.
struct NativePicker {
    std::mutex mutex;
    bool open = false;  // main thread only
    bool done = false;
    bool failed = false;
    std::vector<std::string> files;
    std::string default_location;  // main thread only; SDL reads it while open
};

// Main-thread state shared by the chooser intake and the selection screen.
// `chosen` and the two sets that tell its files apart change only through
// commit_pkgs and clear_chosen, which keep them together.
struct SelectionState {
    std::set<std::filesystem::path> chosen;
    // Taken once, as each entry is added: the identity of its file, or the
    // lexically normal form of a name that no file answers.
    std::set<FileIdentity> chosen_files;
    std::set<std::filesystem::path> chosen_unreached;
    std::filesystem::path start_folder;
    std::string notice;
    bool manual_entry_shown = false;
    char manual_path[4096] = {};
};

// The folder the chooser first opens in, from ORBEX_SETUP_START_DIR or HOME.
std::filesystem::path choose_start_folder();

// Shows the desktop chooser; its answer arrives through picker_callback and is
// taken by take_picker_result in a later frame.
void open_pkg_dialog(NativePicker& picker, SDL_Window* window,
                     const std::filesystem::path& start_folder, bool dlc_mode);

// The text handed to the chooser as its start location.
std::string dialog_location(const std::filesystem::path& start_folder);

// SDL's dialog callback; userdata is the NativePicker. Any thread.
void SDLCALL picker_callback(void* userdata, const char* const* filelist, int filter);

// Takes a finished chooser result, if any. True when the result arrived while
// a quit was deferred: it was dropped unread and the run must end now.
bool take_picker_result(NativePicker& picker, SelectionState& state, bool deferred_quit,
                        bool dlc_mode);

// An existing regular file, not itself a symbolic link, named *.pkg in any
// ASCII letter case, whose name holds no line feed or carriage return.
bool regular_pkg(const std::filesystem::path& path);

// The one way into `chosen`: the accepted absolute paths of one pick or one
// typed path. A path naming a file already chosen is not added again.
void commit_pkgs(SelectionState& state, const std::vector<std::filesystem::path>& paths,
                 bool dlc_mode);

// The one way to empty `chosen`.
void clear_chosen(SelectionState& state);
