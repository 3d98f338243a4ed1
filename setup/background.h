#pragma once
// The picture behind the setup window: found once at start-up, drawn every
// frame with cover fit under the veils.
#include <SDL3/SDL.h>

#include <filesystem>
#include <vector>

// The places tried for the picture, in order: the value of
// ORBEX_OVERLAY_BACKGROUND (when set and not empty), then "overlay.png" in
// four folders relative to base_folder.
std::vector<std::filesystem::path> background_candidates(const char* env_value,
                                                         const std::filesystem::path& base_folder);

// Finds, decodes and uploads the first usable candidate; prints which one, or
// the fallback notice. Returns the texture, or null for the plum fallback.
SDL_Texture* load_background(SDL_Renderer* renderer, const std::filesystem::path& base_folder);

struct CoverFit {
    SDL_FRect source;
    SDL_FRect destination;
};

// Scales the picture until it fills the output, keeping its aspect ratio and
// cutting the overflow equally on both sides.
CoverFit cover_fit(float output_w, float output_h, float texture_w, float texture_h);

// Draws the picture over the whole output; the caller has checked that both
// output sizes are positive.
void draw_background(SDL_Renderer* renderer, int output_w, int output_h,
                     SDL_Texture* background_texture);
