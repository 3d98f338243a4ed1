#pragma once
// The file searches of the start-up: host script and Python interpreter.

#include <cstddef>
#include <string>
#include <vector>

#include "platform.h"

// The first non-empty candidate that exists as anything (file, folder, ...),
// copied as written, leaving out those `passed_over` picks; empty when none
// does. Never throws for file-system errors.
NativeString first_existing_path(const std::vector<NativeString>& candidates,
                                 bool (*passed_over)(const NativeString&) = nullptr);

// No interpreter path is longer; a longer python.txt names none.
constexpr std::size_t python_txt_limit = 64 * 1024;

// The bytes of python.txt in the folder of `host_script`, with trailing blanks,
// carriage returns and line feeds dropped; empty when it can't be read or is
// longer than python_txt_limit.
std::string read_python_txt(const NativeString& host_script);
