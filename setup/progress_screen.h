#pragma once
#include "modes.h"
#include "progress.h"

#include <cstdint>

// Draws the progress screen inside the current Dear ImGui window.
void draw_progress_screen(const Progress& progress, const ProgressTexts& texts, uint64_t ticks_ms);

// The spinner's character at a moment: it moves on every 180 ms, whatever the
// frame rate.
char progress_spinner(uint64_t ticks_ms);
