#pragma once
#include <filesystem>

// The folder every asset search starts from: where SDL says the program lies,
// else the current folder. SDL must be initialised.
std::filesystem::path base_folder();
