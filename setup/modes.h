#pragma once
// The command line of orbex-setup, the run's mode and the texts of each mode.
#include <string>

struct ModeTexts {
    const char* heading;
    const char* title;
    const char* body;
    const char* accept_label;
};

struct ProgressTexts {
    const char* heading;
    const char* title;
    const char* done_text;
    const char* note;
};

// Fixed once the command line is accepted; never changes during the run.
struct Mode {
    std::string mode_word;
    bool progress_mode = false;
    bool dlc_mode = false;
    const char* status_path = nullptr;  // progress modes only: argv[3], unchanged
};

extern const char* const usage_text;

// Checks the command line byte for byte; false means: print usage_text, exit 2.
bool parse_command_line(int argc, const char* const* argv, Mode& mode);

// The selection screen's texts for "update", "dlc" and "dlc_later"; null for
// any other word.
const ModeTexts* mode_texts(const std::string& mode_word);

const char* select_label(bool dlc_mode);
const char* second_label(const std::string& mode_word);
const ProgressTexts& progress_texts(const std::string& mode_word);
