#include "progress_screen.h"

#include <imgui.h>

void draw_progress_screen(const Progress& progress, const ProgressTexts& texts, uint64_t)
{
    ImGui::TextColored(ImVec4(1.0f, 0.67f, 0.82f, 1.0f), "%s", texts.heading);
    ImGui::TextUnformatted(texts.title);
    ImGui::TextWrapped("%s", progress.message.c_str());
}
