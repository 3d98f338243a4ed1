#include "background.h"

#include <cstdio>

std::vector<std::filesystem::path> background_candidates(const char*, const std::filesystem::path&)
{
    return {};
}

SDL_Texture* load_background(SDL_Renderer*, const std::filesystem::path&)
{
    std::fputs("Vantorra setup: PNG background not found; using plum fallback.\n", stderr);
    return nullptr;
}

CoverFit cover_fit(float output_w, float output_h, float, float)
{
    return CoverFit{{0, 0, output_w, output_h}, {0, 0, output_w, output_h}};
}

void draw_background(SDL_Renderer*, int, int, SDL_Texture*)
{
}
