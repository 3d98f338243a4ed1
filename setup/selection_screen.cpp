#include "selection_screen.h"

#include <imgui.h>

SelectionButtons draw_selection_screen(const Mode& mode, SelectionState&, NativePicker&, SDL_Window*)
{
    const ModeTexts* texts = mode_texts(mode.mode_word);
    SelectionButtons pressed;
    if (!texts)
        return pressed;
    ImGui::TextColored(ImVec4(1.0f, 0.67f, 0.82f, 1.0f), "%s", texts->heading);
    ImGui::TextUnformatted(texts->title);
    pressed.second = ImGui::Button(second_label(mode.mode_word), ImVec2(210, 42));
    return pressed;
}
