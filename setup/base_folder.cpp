#include "base_folder.h"

#include "utf8_paths.h"

#include <SDL3/SDL.h>

std::filesystem::path base_folder() {
    // SDL keeps ownership of the text, which is UTF-8.
    const char* base = SDL_GetBasePath();
    if (base && *base)
        return path_from_utf8(base);
    std::error_code error;
    std::filesystem::path current = std::filesystem::current_path(error);
    return error ? std::filesystem::path() : current;
}
