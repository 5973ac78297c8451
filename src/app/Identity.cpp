#include "app/Identity.h"

#include <SDL_hints.h>
#include <SDL_syswm.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/Artwork.h"
#include "base/Log.h"

namespace vornik {

void applyDesktopIdentity() {
    // SDL 2.26 reads the window class from the environment, newer versions from the hint too.
    for (const char* name : {"SDL_VIDEO_X11_WMCLASS", "SDL_VIDEO_WAYLAND_WMCLASS"}) {
        ::setenv(name, kApplicationId, 0);
        SDL_SetHint(name, std::getenv(name));
    }
    SDL_SetHint(SDL_HINT_APP_NAME, "Vornik");
    SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "Vornik");
    SDL_SetHint(SDL_HINT_AUDIO_DEVICE_STREAM_NAME, "Vornik");
    // An instrument: the sound settings file it under production, not under games.
    SDL_SetHint(SDL_HINT_AUDIO_DEVICE_STREAM_ROLE, "Production");
}

void setWindowIcon(SDL_Window* window, const std::filesystem::path& assets) {
    const std::string name = "icon-128";
    std::shared_ptr<Image> icon;
    std::error_code ec;
    if (!assets.empty() && std::filesystem::is_regular_file(assets / (name + ".png"), ec)) {
        icon = Image::loadPng((assets / (name + ".png")).string());
    }
    if (!icon) icon = drawArtwork(name);
    if (!icon || icon->width() == 0) return;
    // SDL takes straight alpha; Cairo's pixels are premultiplied.
    const int w = icon->width(), h = icon->height();
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(w) * h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const Rgba8 p = icon->pixel(x, y);
            pixels[static_cast<std::size_t>(y) * w + x] =
                (std::uint32_t(p.a) << 24) | (p.r << 16) | (p.g << 8) | p.b;
        }
    }
    SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormatFrom(pixels.data(), w, h, 32, w * 4,
                                                              SDL_PIXELFORMAT_ARGB8888);
    if (surface == nullptr) {
        logf("cannot set the window's icon: %s", SDL_GetError());
        return;
    }
    SDL_SetWindowIcon(window, surface);
    SDL_FreeSurface(surface);
}

std::string portalParentWindow(SDL_Window* window) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (window == nullptr || !SDL_GetWindowWMInfo(window, &info)) return {};
#if defined(SDL_VIDEO_DRIVER_X11)
    if (info.subsystem == SDL_SYSWM_X11) {
        char handle[40];
        std::snprintf(handle, sizeof handle, "x11:%lx",
                      static_cast<unsigned long>(info.info.x11.window));
        return handle;
    }
#endif
    // Wayland wants an exported xdg-foreign handle, which SDL 2 does not give: no parent.
    return {};
}

}  // namespace vornik
