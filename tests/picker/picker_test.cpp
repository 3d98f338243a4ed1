// The chooser hand-over and the PKG rules, without a window.
#include "picker.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A fresh folder per test, removed afterwards, whose files stand for packages.
class TempDir : public TempFolder {
public:
    TempDir() : TempFolder("orbex-picker") {}

    fs::path file(const std::string& relative) const { return write(relative, "PKG"); }
};

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

class ScopedCwd {
public:
    explicit ScopedCwd(const fs::path& to) : old_(fs::current_path()) { fs::current_path(to); }
    ~ScopedCwd() { fs::current_path(old_); }

private:
    fs::path old_;
};

// Answers the open request the way SDL's dialog thread does.
void answer_from_thread(NativePicker& picker, const std::vector<std::string>* names) {
    std::thread dialog([&picker, names] {
        if (!names) {
            picker_callback(&picker, nullptr, -1);
            return;
        }
        std::vector<const char*> list;
        for (const std::string& name : *names)
            list.push_back(name.c_str());
        list.push_back(nullptr);
        picker_callback(&picker, list.data(), -1);
    });
    dialog.join();
}

// One full round: the request is marked open, the dialog answers from its own
// thread, and the frame loop takes the result.
bool pick(NativePicker& picker, SelectionState& state, const std::vector<std::string>* names,
          bool dlc_mode, bool deferred_quit = false) {
    picker.open = true;
    answer_from_thread(picker, names);
    return take_picker_result(picker, state, deferred_quit, dlc_mode);
}

}  // namespace

TEST(RegularPkg, ExtensionInAnyAsciiCaseOnly) {
    TempDir dir;
    for (const char* name : {"a.pkg", "b.PKG", "c.Pkg", "d.pKg"})
        EXPECT_TRUE(regular_pkg(dir.file(name))) << name;
    for (const char* name : {"a.pkg.bak", "b.pkg ", ".pkg", "c.pk", "d.pkgx", "e", "f.pkg\xc3\xa9"})
        EXPECT_FALSE(regular_pkg(dir.file(name))) << name;
    // Only ASCII letters fold: the Kelvin sign is no "k" here.
    EXPECT_FALSE(regular_pkg(dir.file("g.p\xe2\x84\xaag")));
}

TEST(RegularPkg, OnlyExistingRegularFilesThatAreNoLinks) {
    TempDir dir;
    const fs::path real = dir.file("real/game.pkg");
    fs::create_directory(dir.path() / "folder.pkg");
    fs::create_symlink(real, dir.path() / "link.pkg");
    fs::create_directory_symlink(dir.path() / "real", dir.path() / "linked");

    EXPECT_FALSE(regular_pkg(dir.path() / "folder.pkg"));
    EXPECT_FALSE(regular_pkg(dir.path() / "link.pkg"));
    EXPECT_TRUE(regular_pkg(dir.path() / "linked" / "game.pkg"));
    EXPECT_FALSE(regular_pkg(dir.path() / "missing.pkg"));
    EXPECT_FALSE(regular_pkg(""));
    ASSERT_EQ(mkfifo((dir.path() / "pipe.pkg").c_str(), 0600), 0);
    EXPECT_FALSE(regular_pkg(dir.path() / "pipe.pkg"));
    // A result line cannot carry a line break.
    EXPECT_FALSE(regular_pkg(dir.file("line\nfeed.pkg")));
    EXPECT_FALSE(regular_pkg(dir.file("carriage\rreturn.pkg")));

    // Contents and permissions are the installer's business.
    fs::permissions(real, fs::perms::none);
    EXPECT_TRUE(regular_pkg(real));
}

TEST(ChooseStartFolder, FirstSetVariableDecidesWithoutFallingThrough) {
    TempDir dir;
    const fs::path home = dir.path() / "home";
    const fs::path start = dir.path() / "start";
    fs::create_directories(home);
    fs::create_directories(start);
    const fs::path file = dir.file("a.pkg");

    struct Case {
        std::optional<std::string> start_dir, home;
        fs::path expected;
    };
    const std::vector<Case> cases = {
        {start.string(), home.string(), start},
        {std::string(), home.string(), home},
        {std::nullopt, home.string(), home},
        {file.string(), home.string(), "/"},
        {(dir.path() / "gone").string(), home.string(), "/"},
        {std::nullopt, (dir.path() / "gone").string(), "/"},
        {std::nullopt, std::string(), "/"},
        {std::nullopt, std::nullopt, "/"},
    };
    for (const Case& c : cases) {
        ScopedEnv s("ORBEX_SETUP_START_DIR", c.start_dir ? c.start_dir->c_str() : nullptr);
        ScopedEnv h("HOME", c.home ? c.home->c_str() : nullptr);
        EXPECT_EQ(choose_start_folder(), c.expected) << "start=" << c.start_dir.value_or("(unset)")
                                                     << " home=" << c.home.value_or("(unset)");
    }
}

TEST(ChooseStartFolder, RelativeValueTakenAgainstCurrentFolder) {
    TempDir dir;
    fs::create_directories(dir.path() / "sub");
    ScopedCwd cwd(dir.path());
    ScopedEnv s("ORBEX_SETUP_START_DIR", "sub");
    const fs::path folder = choose_start_folder();
    EXPECT_TRUE(folder.is_absolute());
    EXPECT_TRUE(fs::equivalent(folder, dir.path() / "sub"));
}

TEST(CommitPkgs, UpdateReplacesAndDlcAdds) {
    SelectionState state;
    state.notice = "Selected file is not a readable .pkg.";
    commit_pkgs(state, {"/u/one.pkg"}, false);
    commit_pkgs(state, {"/v/two.pkg"}, false);
    EXPECT_EQ(state.chosen, (std::set<fs::path>{"/v/two.pkg"}));
    EXPECT_EQ(state.start_folder, "/v");
    EXPECT_TRUE(state.notice.empty());

    // However many names a chooser hands back, an update is one package.
    commit_pkgs(state, {"/w/b.pkg", "/w/a.pkg"}, false);
    EXPECT_EQ(state.chosen, (std::set<fs::path>{"/w/b.pkg"}));

    SelectionState dlc;
    commit_pkgs(dlc, {"/d/c.pkg", "/a/z.pkg"}, true);
    commit_pkgs(dlc, {"/b/b.pkg"}, true);
    EXPECT_EQ(dlc.chosen, (std::set<fs::path>{"/a/z.pkg", "/b/b.pkg", "/d/c.pkg"}));
    EXPECT_EQ(dlc.start_folder, "/b");
    const std::vector<fs::path> in_order(dlc.chosen.begin(), dlc.chosen.end());
    EXPECT_EQ(in_order, (std::vector<fs::path>{"/a/z.pkg", "/b/b.pkg", "/d/c.pkg"}));
}

TEST(CommitPkgs, DuplicatesByPathComparison) {
    // Paths that name no file: their lexically normal forms decide.
    SelectionState state;
    commit_pkgs(state, {"/g/a.pkg"}, true);
    commit_pkgs(state, {"/g//a.pkg", "/g/a.pkg"}, true);
    EXPECT_EQ(state.chosen.size(), 1u);
    commit_pkgs(state, {"/g/A.pkg", "/g/./a.pkg", "/h/../g/a.pkg"}, true);
    EXPECT_EQ(state.chosen, (std::set<fs::path>{"/g/A.pkg", "/g/a.pkg"}));
    // The folder of the list's first path, not of the set's first.
    EXPECT_EQ(state.start_folder, "/g");
}

TEST(CommitPkgs, OneEntryPerExistingFileInItsFirstSpelling) {
    TempDir dir;
    const fs::path a = dir.file("pk/a.pkg");
    fs::create_directory_symlink(dir.path() / "pk", dir.path() / "linked");
    fs::create_hard_link(a, dir.path() / "hard.pkg");
    SelectionState state;
    commit_pkgs(state, {dir.path() / "pk/./a.pkg", a, dir.path() / "linked/a.pkg"}, true);
    commit_pkgs(state, {dir.path() / "hard.pkg"}, true);
    EXPECT_EQ(state.chosen, (std::set<fs::path>{dir.path() / "pk/./a.pkg"}));

    // Through a linked folder ".." leads out of the folder linked to: up/..
    // is deep/, so this names deep/b.pkg, although its normal form is b.pkg.
    fs::create_directories(dir.path() / "deep/pk");
    fs::create_directory_symlink(dir.path() / "deep/pk", dir.path() / "up");
    dir.file("deep/b.pkg");
    commit_pkgs(state, {dir.file("b.pkg"), dir.path() / "up/../b.pkg"}, true);
    EXPECT_EQ(state.chosen.size(), 3u);
}

TEST(TakePickerResult, AcceptedPickIsAddedWhole) {
    TempDir dir;
    const fs::path a = dir.file("x/a.pkg"), b = dir.file("y/b.pkg"), c = dir.file("x/c.pkg");
    NativePicker picker;
    SelectionState state;
    state.notice = "Desktop chooser unavailable. Enter a PKG path below.";

    const std::vector<std::string> names = {c.string(), b.string(), a.string()};
    EXPECT_FALSE(pick(picker, state, &names, true));
    EXPECT_FALSE(picker.open);
    EXPECT_EQ(state.chosen, (std::set<fs::path>{a, b, c}));
    EXPECT_EQ(state.start_folder, dir.path() / "x");
    EXPECT_TRUE(state.notice.empty());
    EXPECT_TRUE(picker.files.empty());

    // Taken once: a later frame finds nothing.
    picker.open = true;
    EXPECT_FALSE(take_picker_result(picker, state, false, true));
    EXPECT_TRUE(picker.open);
}

TEST(TakePickerResult, ChosenFilesPickedAgainAddNothingUntilCleared) {
    TempDir dir;
    const fs::path a = dir.file("p/a.pkg"), b = dir.file("p/b.pkg"), c = dir.file("p/c.pkg");
    fs::create_directory_symlink(dir.path() / "p", dir.path() / "q");
    const fs::path b_linked = dir.path() / "q/b.pkg";
    NativePicker picker;
    SelectionState state;
    const std::vector<std::string> first = {a.string(), b.string()};
    pick(picker, state, &first, true);
    const std::vector<std::string> again = {b_linked.string(), b.string(), a.string(), c.string()};
    pick(picker, state, &again, true);
    EXPECT_EQ(state.chosen, (std::set<fs::path>{a, b, c}));

    // Emptied, the same files are new again, each in its first spelling.
    clear_chosen(state);
    pick(picker, state, &again, true);
    EXPECT_EQ(state.chosen, (std::set<fs::path>{b_linked, a, c}));

    // An update package put back after another one replaced it.
    SelectionState update;
    for (const fs::path& path : {a, b, a})
        commit_pkgs(update, {path}, false);
    EXPECT_EQ(update.chosen, (std::set<fs::path>{a}));
}

TEST(TakePickerResult, RefusedNameDropsTheWholePick) {
    TempDir dir;
    const fs::path old = dir.file("old/u.pkg");
    NativePicker picker;
    SelectionState state;
    commit_pkgs(state, {old}, false);
    const fs::path folder = state.start_folder;

    const std::vector<std::string> update = {(dir.path() / "missing.pkg").string()};
    pick(picker, state, &update, false);
    EXPECT_EQ(state.chosen, (std::set<fs::path>{old}));
    EXPECT_EQ(state.notice, "Selected file is not a readable .pkg.");

    const std::vector<std::string> dlc = {
        dir.file("n/1.pkg").string(), dir.file("n/2.txt").string(), dir.file("n/3.pkg").string()};
    pick(picker, state, &dlc, true);
    EXPECT_EQ(state.chosen, (std::set<fs::path>{old}));
    EXPECT_EQ(state.start_folder, folder);
    EXPECT_EQ(state.notice, "Selected file is not a readable .pkg.");
    EXPECT_FALSE(picker.open);

    // A chooser names files absolutely: a relative name is the tail of a
    // name holding a line feed, and never taken in the current folder.
    ScopedCwd cwd(dir.path() / "n");
    state.notice.clear();
    const std::vector<std::string> split = {(dir.path() / "n/1.pkg").string(), "3.pkg"};
    pick(picker, state, &split, true);
    EXPECT_EQ(state.chosen, (std::set<fs::path>{old}));
    EXPECT_EQ(state.notice, "Selected file is not a readable .pkg.");
}

TEST(TakePickerResult, CancelChangesNothing) {
    TempDir dir;
    NativePicker picker;
    SelectionState state;
    commit_pkgs(state, {dir.file("k/a.pkg")}, true);
    state.notice = "Enter a valid full path ending in .pkg.";
    const SelectionState before = state;

    // An empty list, and what SDL's zenity road makes of zenity's empty
    // output: one empty name.
    const std::vector<std::vector<std::string>> cancels = {{}, {""}, {"", ""}};
    for (const std::vector<std::string>& names : cancels) {
        EXPECT_FALSE(pick(picker, state, &names, true));
        EXPECT_FALSE(picker.open);
        EXPECT_EQ(state.chosen, before.chosen);
        EXPECT_EQ(state.start_folder, before.start_folder);
        EXPECT_EQ(state.notice, before.notice);
        EXPECT_FALSE(state.manual_entry_shown);
    }

    // Empty names beside real ones are skipped, not refused.
    const fs::path b = dir.file("m/b.pkg");
    const std::vector<std::string> names = {"", b.string(), ""};
    pick(picker, state, &names, true);
    EXPECT_EQ(state.chosen.count(b), 1u);
    EXPECT_TRUE(state.notice.empty());
}

TEST(TakePickerResult, ChooserErrorOffersTheTypedPath) {
    NativePicker picker;
    SelectionState state;
    commit_pkgs(state, {"/k/a.pkg"}, true);
    EXPECT_FALSE(pick(picker, state, nullptr, true));
    EXPECT_TRUE(state.manual_entry_shown);
    EXPECT_EQ(state.notice, "Desktop chooser unavailable. Enter a PKG path below.");
    EXPECT_EQ(state.chosen.size(), 1u);
    EXPECT_EQ(state.start_folder, "/k");
    EXPECT_FALSE(picker.open);
}

TEST(TakePickerResult, DeferredQuitDropsEvenAValidPick) {
    TempDir dir;
    NativePicker picker;
    SelectionState state;
    state.notice = "kept";
    const std::vector<std::string> names = {dir.file("a.pkg").string()};
    EXPECT_TRUE(pick(picker, state, &names, true, true));
    EXPECT_TRUE(state.chosen.empty());
    EXPECT_EQ(state.notice, "kept");
    EXPECT_FALSE(picker.open);

    // An error is not looked at either.
    EXPECT_TRUE(pick(picker, state, nullptr, true, true));
    EXPECT_FALSE(state.manual_entry_shown);
}

TEST(TakePickerResult, NothingWithoutAnOutstandingRequest) {
    TempDir dir;
    NativePicker picker;
    SelectionState state;
    EXPECT_FALSE(take_picker_result(picker, state, true, true));

    // A request still waiting for its answer.
    picker.open = true;
    EXPECT_FALSE(take_picker_result(picker, state, true, true));
    EXPECT_TRUE(picker.open);

    // An answer that arrives while the loop polls is taken exactly once.
    const std::string name = dir.file("late.pkg").string();
    std::thread dialog([&picker, &name] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        const char* list[] = {name.c_str(), nullptr};
        picker_callback(&picker, list, 0);
    });
    int taken_after = 0;
    while (picker.open) {
        take_picker_result(picker, state, false, true);
        ++taken_after;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    dialog.join();
    EXPECT_GT(taken_after, 1);
    EXPECT_EQ(state.chosen, (std::set<fs::path>{name}));
}
