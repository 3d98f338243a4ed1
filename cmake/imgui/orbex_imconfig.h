// Build settings of our Dear ImGui library, seen by every file that includes it.
#pragma once
#include <stdio.h>

// orbex-setup's standard output carries its results alone, so the library's
// debug log goes to standard error.
#define IMGUI_DEBUG_PRINTF(_FMT, ...) fprintf(stderr, _FMT, __VA_ARGS__)
