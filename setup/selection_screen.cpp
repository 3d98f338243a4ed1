#include "selection_screen.h"

#include "utf8_paths.h"

#include <imgui.h>

#include <algorithm>
#include <iterator>
#include <system_error>

static const ImVec4 heading_colour(1.0f, 0.67f, 0.82f, 1.0f);
static const ImVec4 notice_colour(1.0f, 0.68f, 0.55f, 1.0f);
static const ImVec2 chooser_button_size(200.0f, 42.0f);
static const ImVec2 closing_button_size(210.0f, 42.0f);

// "Add PKG": the typed text exactly as it stands, nothing trimmed.
static void add_typed_pkg(SelectionState& state, bool dlc_mode) {
    // Dear ImGui's text is UTF-8.
    const std::filesystem::path typed = path_from_utf8(state.manual_path);
    if (!regular_pkg(typed)) {
        state.notice = "Enter a valid full path ending in .pkg.";
        return;
    }
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(typed, error);
    if (error || utf8_from_path(absolute).empty()) {
        state.notice = "Unable to resolve the PKG path.";
        return;
    }
    commit_pkgs(state, {absolute}, dlc_mode);
    state.manual_path[0] = '\0';
}

// The list is 77 pixels high where the window has room. Where the lines
// above it leave too little, it gives up height, down to one line, so that
// both closing buttons stay whole in the window: they are the only way on.
static float chosen_list_height(bool clear_button) {
    const ImGuiStyle& style = ImGui::GetStyle();
    // Below the list: a gap, "Clear selection" (a small button has no frame
    // padding above or below its label) and a gap, the spacing, the buttons.
    float below = style.ItemSpacing.y + style.ItemSpacing.y + closing_button_size.y;
    if (clear_button)
        below += ImGui::GetFontSize() + style.ItemSpacing.y;
    const float room = ImGui::GetContentRegionAvail().y - below;
    return std::max(ImGui::GetTextLineHeight(), std::min(77.0f, room));
}

// Only the rows in view are laid out, so that thousands of entries cost a
// frame what a few do. The first of them is walked to from the nearer end
// of the set, which halves the walk's worst case.
static void draw_chosen_list(const SelectionState& state, bool clear_button) {
    ImGui::BeginChild("##chosen", ImVec2(0.0f, chosen_list_height(clear_button)));
    const int count = static_cast<int>(state.chosen.size());
    ImGuiListClipper clipper;
    // A bullet line is one text line high.
    clipper.Begin(count, ImGui::GetTextLineHeightWithSpacing());
    while (clipper.Step()) {
        const int first = clipper.DisplayStart;
        auto row = first <= count / 2 ? std::next(state.chosen.begin(), first)
                                      : std::prev(state.chosen.end(), count - first);
        for (int index = first; index < clipper.DisplayEnd; ++index, ++row) {
            ImGui::BulletText("%s", utf8_from_path(row->filename()).c_str());
            if (ImGui::IsItemHovered())
                ImGui::SetTooltip("%s", utf8_from_path(*row).c_str());
        }
    }
    ImGui::EndChild();
}

SelectionButtons draw_selection_screen(const Mode& mode, SelectionState& state,
                                       NativePicker& picker, SDL_Window* window) {
    SelectionButtons pressed;
    const ModeTexts* texts = mode_texts(mode.mode_word);
    if (!texts)
        return pressed;

    ImGui::TextColored(heading_colour, "%s", texts->heading);
    ImGui::SetWindowFontScale(1.35f);
    ImGui::TextUnformatted(texts->title);
    ImGui::SetWindowFontScale(1.0f);
    ImGui::TextWrapped("%s", texts->body);
    ImGui::Spacing();
    ImGui::Separator();
    ImGui::Spacing();

    ImGui::BeginDisabled(picker.open);
    if (ImGui::Button(select_label(mode.dlc_mode), chooser_button_size))
        open_pkg_dialog(picker, window, state.start_folder, mode.dlc_mode);
    ImGui::EndDisabled();
    if (picker.open)
        ImGui::TextDisabled("%s", "Desktop file chooser open...");
    if (!state.notice.empty())
        ImGui::TextColored(notice_colour, "%s", state.notice.c_str());

    // The label follows in the next frame; the field shows or hides at once.
    if (ImGui::SmallButton(state.manual_entry_shown ? "Hide manual path" : "Enter path manually"))
        state.manual_entry_shown = !state.manual_entry_shown;
    if (state.manual_entry_shown) {
        ImGui::SetNextItemWidth(-135.0f);
        ImGui::InputText("##pkgpath", state.manual_path, sizeof state.manual_path);
        ImGui::SameLine();
        if (ImGui::Button("Add PKG"))
            add_typed_pkg(state, mode.dlc_mode);
    }
    ImGui::Spacing();
    ImGui::Separator();

    if (state.chosen.empty()) {
        ImGui::TextDisabled("%s", "No PKG selected");
    } else {
        const size_t count = state.chosen.size();
        ImGui::Text("%zu PKG%s selected", count, count == 1 ? "" : "s");
        draw_chosen_list(state, mode.dlc_mode);
        if (mode.dlc_mode && ImGui::SmallButton("Clear selection"))
            clear_chosen(state);
    }
    ImGui::Spacing();

    // Both closing buttons wait for the chooser: its callback still needs the
    // picker record.
    ImGui::BeginDisabled(state.chosen.empty() || picker.open);
    pressed.accept = ImGui::Button(texts->accept_label, closing_button_size);
    ImGui::EndDisabled();
    ImGui::SameLine();
    ImGui::BeginDisabled(picker.open);
    pressed.second = ImGui::Button(second_label(mode.mode_word), closing_button_size);
    ImGui::EndDisabled();
    return pressed;
}
