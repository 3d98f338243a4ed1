#include "progress_screen.h"

#include <imgui.h>

#include <string>

char progress_spinner(uint64_t ticks_ms) {
    static const char frames[4] = {'|', '/', '-', '\\'};
    return frames[(ticks_ms / 180) % 4];
}

void draw_progress_screen(const Progress& progress, const ProgressTexts& texts, uint64_t ticks_ms) {
    ImGui::TextColored(ImVec4(1.0f, 0.67f, 0.82f, 1.0f), "%s", texts.heading);
    ImGui::SetWindowFontScale(1.4f);
    ImGui::TextUnformatted(texts.title);
    ImGui::SetWindowFontScale(1.0f);
    ImGui::Spacing();
    // The message is the caller's text: never a format.
    ImGui::TextWrapped("%s", progress.message.c_str());
    ImGui::Spacing();
    ImGui::ProgressBar(static_cast<float>(progress.completed) / static_cast<float>(progress.total),
                       ImVec2(-1.0f, 26.0f));
    ImGui::TextDisabled("%d of %d setup stages completed", progress.completed, progress.total);
    if (progress.state == "working")
        ImGui::Text("%c  Processing... Please keep this window open.", progress_spinner(ticks_ms));
    else if (progress.state == "success")
        ImGui::TextColored(ImVec4(0.6f, 0.95f, 0.75f, 1.0f), "%s", texts.done_text);
    else
        ImGui::TextColored(ImVec4(1.0f, 0.5f, 0.5f, 1.0f), "%s",
                           "Setup failed. See the launch terminal for details.");
    ImGui::Spacing();
    ImGui::TextDisabled("%s", texts.note);
}
