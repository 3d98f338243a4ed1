// Times what one pick of many packages costs: the chooser's answer handed to
// picker_callback, then taken by take_picker_result, once into an empty
// selection and once again with the same names already chosen. Plain
// std::chrono, so that the same source runs on Windows (under Wine) too.
//
// Usage: bench_intake COUNT [RUNS]   prints one JSON object
#include "picker.h"
#include "utf8_paths.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

// A folder of its own under the system's temporary folder; empty on failure.
static fs::path make_folder() {
    std::error_code error;
    const fs::path base = fs::temp_directory_path(error);
    if (error)
        return {};
    std::random_device seed;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path folder = base / ("orbex-bench-intake-" + std::to_string(seed()));
        if (fs::create_directory(folder, error))
            return folder;
        if (error)
            return {};
    }
    return {};
}

static bool write_packages(const fs::path& folder, int count, std::vector<std::string>& names) {
    for (int i = 0; i < count; ++i) {
        const fs::path file = folder / ("package-" + std::to_string(i) + ".pkg");
        std::ofstream out(file, std::ios::binary);
        out << "PKG";
        if (!out)
            return false;
        names.push_back(utf8_from_path(file));  // as the chooser hands names over
    }
    return true;
}

// One pick as the program takes it; its seconds, or a negative value when
// the pick did not end with `expected` entries chosen.
static double timed_pick(SelectionState& state, const std::vector<std::string>& names,
                         size_t expected) {
    std::vector<const char*> list;
    for (const std::string& name : names)
        list.push_back(name.c_str());
    list.push_back(nullptr);
    NativePicker picker;
    const auto started = std::chrono::steady_clock::now();
    picker.open = true;
    picker_callback(&picker, list.data(), 0);
    take_picker_result(picker, state, false, true);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    return state.chosen.size() == expected ? took.count() : -1.0;
}

static double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 0;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    if (count <= 0 || runs <= 0) {
        std::fputs("usage: bench_intake COUNT [RUNS]\n", stderr);
        return 2;
    }
    const fs::path folder = make_folder();
    if (folder.empty()) {
        std::fputs("bench_intake: no temporary folder\n", stderr);
        return 1;
    }
    std::vector<std::string> names;
    bool ok = write_packages(folder, count, names);
    std::vector<double> first, again;
    for (int run = 0; ok && run < runs; ++run) {
        SelectionState state;
        first.push_back(timed_pick(state, names, names.size()));
        again.push_back(timed_pick(state, names, names.size()));
        ok = first.back() >= 0 && again.back() >= 0;
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    if (!ok) {
        std::fputs("bench_intake: the packages were not all chosen, once each\n", stderr);
        return 1;
    }
    std::printf("{\"count\": %d, \"runs\": %d, \"first_s\": %.6f, \"again_s\": %.6f}\n", count,
                runs, median(first), median(again));
    return 0;
}
