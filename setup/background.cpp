#include "background.h"

#include "png/png.h"
#include "utf8_paths.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>

std::vector<std::filesystem::path> background_candidates(const char* env_value,
                                                         const std::filesystem::path& base_folder) {
    std::vector<std::filesystem::path> candidates;
    // Taken as given: a relative value means the current folder, as on a shell.
    if (env_value != nullptr && env_value[0] != '\0') {
        candidates.push_back(path_from_utf8(env_value));
    }
    for (const char* relative : {"../gpu/assets/overlay.png", "gpu/assets/overlay.png",
                                 "assets/overlay.png", "../assets/overlay.png"}) {
        candidates.push_back(base_folder / relative);
    }
    return candidates;
}

// Decodes one candidate into a new static texture. The decoded pixels live only
// until the texture holds its own copy.
static SDL_Texture* upload_picture(SDL_Renderer* renderer, const std::string& path) {
    OrbexPng::Image image;
    if (!OrbexPng::LoadRgba(path.c_str(), image)) {
        return nullptr;
    }
    // ABGR8888 lies in memory as R, G, B, A on little-endian machines: the
    // loader's byte order, so the rows go up unchanged.
    SDL_Texture* texture = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ABGR8888,
                                             SDL_TEXTUREACCESS_STATIC, image.width, image.height);
    if (texture == nullptr) {
        return nullptr;
    }
    if (!SDL_UpdateTexture(texture, nullptr, image.pixels.data(), image.width * 4)) {
        SDL_DestroyTexture(texture);
        return nullptr;
    }
    SDL_SetTextureBlendMode(texture, SDL_BLENDMODE_BLEND);
    return texture;
}

SDL_Texture* load_background(SDL_Renderer* renderer, const std::filesystem::path& base_folder) {
    std::string named;
    const bool set = utf8_environment("ORBEX_OVERLAY_BACKGROUND", named);
    for (const std::filesystem::path& candidate :
         background_candidates(set ? named.c_str() : nullptr, base_folder)) {
        // Follows symbolic links; a missing path, a folder and an unreadable
        // status are passed over alike, without a word.
        std::error_code error;
        if (std::filesystem::status(candidate, error).type() !=
            std::filesystem::file_type::regular) {
            continue;
        }
        const std::string path = utf8_from_path(candidate);
        SDL_Texture* texture = upload_picture(renderer, path);
        if (texture != nullptr) {
            std::fprintf(stderr, "Vantorra setup art: %s\n", path.c_str());
            return texture;
        }
    }
    std::fputs("Vantorra setup: PNG background not found; using plum fallback.\n", stderr);
    return nullptr;
}

CoverFit cover_fit(float output_w, float output_h, float texture_w, float texture_h) {
    // Single precision throughout, as the renderer takes it.
    const float scale_w = output_w / texture_w;
    const float scale_h = output_h / texture_h;
    const float scale = scale_h > scale_w ? scale_h : scale_w;
    const float source_w = output_w / scale;
    const float source_h = output_h / scale;
    CoverFit fit;
    fit.source =
        SDL_FRect{(texture_w - source_w) * 0.5f, (texture_h - source_h) * 0.5f, source_w, source_h};
    fit.destination = SDL_FRect{0.0f, 0.0f, output_w, output_h};
    return fit;
}

void draw_background(SDL_Renderer* renderer, int output_w, int output_h,
                     SDL_Texture* background_texture) {
    if (background_texture == nullptr) {
        return;
    }
    float texture_w = 0.0f;
    float texture_h = 0.0f;
    if (!SDL_GetTextureSize(background_texture, &texture_w, &texture_h) || !(texture_w > 0.0f) ||
        !(texture_h > 0.0f)) {
        return;
    }
    const CoverFit fit =
        cover_fit(static_cast<float>(output_w), static_cast<float>(output_h), texture_w, texture_h);
    SDL_RenderTexture(renderer, background_texture, &fit.source, &fit.destination);
}
