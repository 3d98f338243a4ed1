#pragma once
// The file searches of the start-up: host script and Python interpreter.

#include <string>
#include <vector>

#include "platform.h"

// The first non-empty candidate that exists as anything (file, folder, ...),
// copied as written; empty when none does. Never throws for file-system errors.
NativeString first_existing_path(const std::vector<NativeString>& candidates);

// The bytes of python.txt in the folder of `host_script`, with trailing blanks,
// carriage returns and line feeds dropped; empty when it can't be read.
std::string read_python_txt(const NativeString& host_script);
