#include "modes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

TEST(CommandLine, RefusesEveryOtherShape) {
    const std::vector<std::vector<const char*>> bad = {
        {},
        {"--mode"},
        {"--mode", "update", "/tmp/status"},
        {"--mode", "dlc", "x"},
        {"--mode", "progress"},
        {"--mode", "progress-dlc"},
        {"--mode=update"},
        {"--mode=progress", "/tmp/status"},
        {"--Mode", "update"},
        {"--mode", "Update"},
        {"--mode", "DLC"},
        {"--mode", "progress_dlc", "/tmp/status"},
        {"update", "--mode"},
        {"--mode", ""},
        {"--mode", "update "},
        {"-m", "update"},
        {"--mode", "progress", "/tmp/status", "extra"},
        {"--mode", "dlc", "--mode", "dlc"},
    };
    for (const auto& args : bad) {
        std::vector<const char*> argv = {"orbex-setup"};
        argv.insert(argv.end(), args.begin(), args.end());
        Mode mode;
        EXPECT_FALSE(parse_command_line(static_cast<int>(argv.size()), argv.data(), mode))
            << "accepted " << args.size() << " arguments starting with "
            << (args.empty() ? "" : args[0]);
    }
}

TEST(CommandLine, AcceptsTheFiveModes) {
    struct Case {
        std::vector<const char*> args;
        bool progress_mode;
        bool dlc_mode;
    };
    const std::vector<Case> good = {
        {{"--mode", "update"}, false, false},
        {{"--mode", "dlc"}, false, true},
        {{"--mode", "dlc_later"}, false, true},
        {{"--mode", "progress", "/tmp/status"}, true, false},
        {{"--mode", "progress-dlc", ""}, true, true},
    };
    for (const Case& c : good) {
        std::vector<const char*> argv = {"orbex-setup"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        Mode mode;
        ASSERT_TRUE(parse_command_line(static_cast<int>(argv.size()), argv.data(), mode))
            << c.args[1];
        EXPECT_EQ(mode.mode_word, c.args[1]);
        EXPECT_EQ(mode.progress_mode, c.progress_mode) << c.args[1];
        EXPECT_EQ(mode.dlc_mode, c.dlc_mode) << c.args[1];
        if (c.progress_mode)
            EXPECT_EQ(mode.status_path, c.args[2]) << "the status path is taken unchanged";
        else
            EXPECT_EQ(mode.status_path, nullptr);
    }
}

TEST(CommandLine, UsageTextIsExact) {
    EXPECT_STREQ(usage_text,
                 "Usage: orbex-setup --mode update|dlc|dlc_later OR --mode progress|progress-dlc "
                 "/path/status\n");
}

TEST(ModeTexts, RowsAndLabels) {
    const ModeTexts* update = mode_texts("update");
    const ModeTexts* dlc = mode_texts("dlc");
    const ModeTexts* later = mode_texts("dlc_later");
    ASSERT_TRUE(update && dlc && later);
    EXPECT_EQ(mode_texts("progress"), nullptr);

    EXPECT_STREQ(update->heading, "GAME UPDATE / CUSA50731");
    EXPECT_STREQ(update->accept_label, "Apply Update");
    EXPECT_STREQ(dlc->title, "Add extra content?");
    EXPECT_STREQ(later->heading, "ADDITIONAL CONTENT / CUSA50731");
    EXPECT_STREQ(later->title, "Install DLC");
    EXPECT_STREQ(later->accept_label, "Install DLC");
    // The body keeps its line breaks: four lines in update mode.
    EXPECT_EQ(std::string(update->body).find("Vantorra v01.00 was detected."), 0u);
    EXPECT_EQ(std::count(update->body, update->body + std::strlen(update->body), '\n'), 3);

    EXPECT_STREQ(select_label(false), "Select PKG...");
    EXPECT_STREQ(select_label(true), "Select PKGs...");
    EXPECT_STREQ(second_label("update"), "Not Now");
    EXPECT_STREQ(second_label("dlc"), "Close and launch game");
    EXPECT_STREQ(second_label("dlc_later"), "Cancel");

    EXPECT_STREQ(progress_texts("progress").title, "Preparing version 01.03");
    EXPECT_STREQ(progress_texts("progress-dlc").done_text,
                 "DLC setup complete. Restart to activate.");
    // Headings are shared with the selection rows of the same kind.
    EXPECT_STREQ(progress_texts("progress").heading, update->heading);
    EXPECT_STREQ(progress_texts("progress-dlc").heading, dlc->heading);
}

TEST(ModeTexts, NoTextHoldsAPercentSign) {
    // These texts are drawn literally; a "%" would be a trap for a later edit
    // that passes one as a format.
    std::vector<const char*> all;
    for (const char* word : {"update", "dlc", "dlc_later"}) {
        const ModeTexts* t = mode_texts(word);
        all.insert(all.end(), {t->heading, t->title, t->body, t->accept_label, second_label(word)});
    }
    for (const char* word : {"progress", "progress-dlc"}) {
        const ProgressTexts& t = progress_texts(word);
        all.insert(all.end(), {t.heading, t.title, t.done_text, t.note});
    }
    for (const char* text : all)
        EXPECT_EQ(std::strchr(text, '%'), nullptr) << text;
}

}  // namespace
