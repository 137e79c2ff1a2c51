#include "ui/splash.h"

#include <SDL.h>
#include <SDL_shape.h>

#include <cstdlib>

namespace tessel {

struct CSplash::Impl {
    std::uint32_t colourKey = 0;  // 0x00BBGGRR; 0 means no see-through colour
    int width = 0;
    int height = 0;
    SDL_Surface* bitmap = nullptr;  // owned
    SDL_Window* window = nullptr;
    SDL_Renderer* renderer = nullptr;
    bool videoStarted = false;
};

namespace {

// The splash is optional decoration: without an X server there is simply none.
bool haveDisplay() {
    const char* display = std::getenv("DISPLAY");
    return display && *display;
}

}  // namespace

CSplash::CSplash(const std::string& bitmapFile, std::uint32_t colourKey) : impl(new Impl) {
    impl->colourKey = colourKey;
    impl->bitmap = SDL_LoadBMP(bitmapFile.c_str());
    if (impl->bitmap) {
        impl->width = impl->bitmap->w;
        impl->height = impl->bitmap->h;
    }
}

// The window is not closed here: its owner calls closeSplash first.
CSplash::~CSplash() {
    if (impl->bitmap) SDL_FreeSurface(impl->bitmap);
    delete impl;
}

bool CSplash::showSplash() {
    closeSplash();
    // A zero-sized window would show nothing; not making one is the same to the user.
    if (!haveDisplay() || !impl->bitmap || impl->width <= 0 || impl->height <= 0) return false;
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
    impl->videoStarted = true;

    const Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_BORDERLESS | SDL_WINDOW_ALWAYS_ON_TOP |
                         SDL_WINDOW_SKIP_TASKBAR;
    const int x = SDL_WINDOWPOS_CENTERED, y = SDL_WINDOWPOS_CENTERED;
    SDL_Window* window = nullptr;
    if (impl->colourKey != 0) {
        window = SDL_CreateShapedWindow("Banner", x, y, impl->width, impl->height, flags);
        if (window) {
            SDL_WindowShapeMode mode;
            mode.mode = ShapeModeColorKey;
            mode.parameters.colorKey.r = static_cast<Uint8>(impl->colourKey & 0xFF);
            mode.parameters.colorKey.g = static_cast<Uint8>((impl->colourKey >> 8) & 0xFF);
            mode.parameters.colorKey.b = static_cast<Uint8>((impl->colourKey >> 16) & 0xFF);
            mode.parameters.colorKey.a = 255;
            // The shape must be set before a renderer exists, or it is lost.
            if (SDL_SetWindowShape(window, impl->bitmap, &mode) != 0) {
                // No shaping here: show the whole picture rather than none.
                SDL_DestroyWindow(window);
                window = nullptr;
            }
        }
    }
    if (!window) window = SDL_CreateWindow("Banner", x, y, impl->width, impl->height, flags);
    if (!window) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        impl->videoStarted = false;
        return false;
    }
    impl->window = window;

    SDL_ShowWindow(window);
    impl->renderer = SDL_CreateRenderer(window, -1, 0);
    if (!impl->renderer) impl->renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE);
    if (impl->renderer) {
        if (SDL_Texture* picture = SDL_CreateTextureFromSurface(impl->renderer, impl->bitmap)) {
            SDL_RenderClear(impl->renderer);
            SDL_RenderCopy(impl->renderer, picture, nullptr, nullptr);
            SDL_RenderPresent(impl->renderer);
            SDL_DestroyTexture(picture);
        }
    }
    // One pass of the event queue maps the window; nothing is pumped during the wait after it.
    SDL_PumpEvents();
    return true;
}

bool CSplash::closeSplash() {
    if (!impl->window) return false;
    if (impl->renderer) SDL_DestroyRenderer(impl->renderer);
    impl->renderer = nullptr;
    SDL_DestroyWindow(impl->window);
    impl->window = nullptr;
    // The engine opens its own window next; SDL's video must be gone by then.
    if (impl->videoStarted) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    impl->videoStarted = false;
    return true;
}

}  // namespace tessel
