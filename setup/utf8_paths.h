#pragma once
// Inside orbex-setup every path is UTF-8 text, as SDL and Dear ImGui hand it
// over and take it. These are the only places where that text meets the
// system's own form: bytes on POSIX, which pass unchanged, and UTF-16 on
// Windows, whose 8-bit calls would read the text in the ANSI code page.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

// The path that UTF-8 text names; empty when the text is no UTF-8 (Windows).
std::filesystem::path path_from_utf8(const std::string& text);

// A path's UTF-8 text; empty when it has none (a Windows name holding half
// of a surrogate pair).
std::string utf8_from_path(const std::filesystem::path& path);

// std::fopen for a file named in UTF-8: null, with errno telling why, when
// it can't be opened.
std::FILE* fopen_utf8(const char* path, const char* mode);

// An environment variable's value as UTF-8 (empty where it has no UTF-8
// form); false when it is not set.
bool utf8_environment(const char* name, std::string& value);

// The command-line words as UTF-8. On Windows they come from the wide command
// line, since `argv` holds them in the ANSI code page, where a name outside
// it is already lost; elsewhere they are `argv` itself.
std::vector<std::string> utf8_arguments(int argc, char** argv);
