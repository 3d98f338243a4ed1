#include "modes.h"

#include <cstring>

const char* const usage_text =
    "Usage: orbex-setup --mode update|dlc|dlc_later OR --mode progress|progress-dlc /path/status\n";

static const ModeTexts update_texts = {
    "GAME UPDATE / CUSA50731",
    "Version 01.03 required",
    "Vantorra v01.00 was detected. This native port requires v01.03.\n"
    "Select your v01.03 update PKG. This updates your extracted\n"
    "CUSA folder in place, replacing v01.00 files with v01.03.\n"
    "Your original PKG and game saves are not modified.",
    "Apply Update",
};

static const ModeTexts dlc_texts = {
    "OPTIONAL DLC / CUSA50731",
    "Add extra content?",
    "Select any DLC PKGs you own, or skip this optional step.\n"
    "You can add DLC later from the in-game overlay.",
    "Install DLC",
};

static const ModeTexts dlc_later_texts = {
    "ADDITIONAL CONTENT / CUSA50731",
    "Install DLC",
    "Select DLC PKGs you own. Existing add-ons will be preserved.\n"
    "Save and restart the game to activate new DLC.",
    "Install DLC",
};

static const ProgressTexts update_progress_texts = {
    "GAME UPDATE / CUSA50731",
    "Preparing version 01.03",
    "Version 01.03 is ready.",
    "The bar tracks completed stages, not bytes or elapsed time.",
};

static const ProgressTexts dlc_progress_texts = {
    "OPTIONAL DLC / CUSA50731",
    "Installing additional content",
    "DLC setup complete. Restart to activate.",
    "Three completed stages per DLC; not bytes or elapsed time.",
};

bool parse_command_line(int argc, const char* const* argv, Mode& mode) {
    if ((argc != 3 && argc != 4) || std::strcmp(argv[1], "--mode") != 0)
        return false;
    const char* word = argv[2];
    if (argc == 3) {
        if (std::strcmp(word, "update") != 0 && std::strcmp(word, "dlc") != 0 &&
            std::strcmp(word, "dlc_later") != 0)
            return false;
    } else if (std::strcmp(word, "progress") != 0 && std::strcmp(word, "progress-dlc") != 0) {
        return false;
    }
    mode.mode_word = word;
    mode.progress_mode = argc == 4;
    mode.dlc_mode = std::strcmp(word, "dlc") == 0 || std::strcmp(word, "dlc_later") == 0 ||
                    std::strcmp(word, "progress-dlc") == 0;
    mode.status_path = argc == 4 ? argv[3] : nullptr;
    return true;
}

const ModeTexts* mode_texts(const std::string& mode_word) {
    if (mode_word == "update")
        return &update_texts;
    if (mode_word == "dlc")
        return &dlc_texts;
    if (mode_word == "dlc_later")
        return &dlc_later_texts;
    return nullptr;
}

const char* select_label(bool dlc_mode) {
    return dlc_mode ? "Select PKGs..." : "Select PKG...";
}

const char* second_label(const std::string& mode_word) {
    if (mode_word == "update")
        return "Not Now";
    if (mode_word == "dlc")
        return "Close and launch game";
    return "Cancel";
}

const ProgressTexts& progress_texts(const std::string& mode_word) {
    return mode_word == "progress-dlc" ? dlc_progress_texts : update_progress_texts;
}
