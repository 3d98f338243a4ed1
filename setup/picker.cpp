#include "picker.h"

std::filesystem::path choose_start_folder()
{
    return "/";
}

void open_pkg_dialog(NativePicker&, SDL_Window*, const std::filesystem::path&, bool)
{
}

void picker_callback(void*, const char* const*, int)
{
}

bool take_picker_result(NativePicker&, SelectionState&, bool, bool)
{
    return false;
}

bool regular_pkg(const std::filesystem::path&)
{
    return false;
}

void commit_pkgs(SelectionState&, const std::vector<std::filesystem::path>&, bool)
{
}
