#pragma once
// The selection screen: mode texts, the chooser, typed paths, the chosen list
// and the two closing buttons.
#include "modes.h"
#include "picker.h"

struct SelectionButtons {
    bool accept = false;
    bool second = false;
};

// Draws the screen inside the current Dear ImGui window; reports which closing
// button was pressed in this frame.
SelectionButtons draw_selection_screen(const Mode& mode, SelectionState& state,
                                       NativePicker& picker, SDL_Window* window);
