#pragma once
#include "modes.h"
#include "progress.h"

#include <cstdint>

// Draws the progress screen inside the current Dear ImGui window.
void draw_progress_screen(const Progress& progress, const ProgressTexts& texts, uint64_t ticks_ms);
