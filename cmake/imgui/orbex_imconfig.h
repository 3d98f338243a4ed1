// Build settings of our Dear ImGui library, seen by every file that includes it.
#pragma once
#include <stdio.h>

// orbex-setup's standard output carries its results alone, so the library's
// debug log goes to standard error.
#define IMGUI_DEBUG_PRINTF(_FMT, ...) fprintf(stderr, _FMT, __VA_ARGS__)

// Paths are text the player types or pastes: a name may hold characters
// beyond the first 65536 (an emoji), which 16-bit characters would turn into
// replacement characters and so into another name.
#define IMGUI_USE_WCHAR32
