#include "base_folder.h"

#include <SDL3/SDL.h>

std::filesystem::path base_folder() {
    // SDL keeps ownership of the text.
    const char* base = SDL_GetBasePath();
    if (base && *base)
        return std::filesystem::path(base);
    std::error_code error;
    std::filesystem::path current = std::filesystem::current_path(error);
    return error ? std::filesystem::path() : current;
}
