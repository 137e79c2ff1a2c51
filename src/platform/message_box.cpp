#include "platform/message_box.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tessel {

void showMessageBox(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
    const char* mode = std::getenv("TESSEL_DIALOGS");
    if (mode && std::strcmp(mode, "stderr") == 0) return;
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return;
    bool ownVideo = !SDL_WasInit(SDL_INIT_VIDEO);
    if (ownVideo && SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return;
    SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_INFORMATION, "Tessel", text.c_str(), nullptr);
    if (ownVideo) SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

}  // namespace tessel
