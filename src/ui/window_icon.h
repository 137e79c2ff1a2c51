#pragma once
#include <irrlicht.h>

namespace tessel {

// Sets _NET_WM_ICON on the engine's window from an image (A8R8G8B8 after conversion). With the
// OpenGL driver the window comes from the exposed video data; otherwise it is found by `caption`.
// Gives false when no X window or image was at hand. Main thread, at start-up.
bool setWindowIcon(irr::IrrlichtDevice* device, irr::video::IImage* image, const wchar_t* caption);

}  // namespace tessel
