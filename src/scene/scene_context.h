#pragma once
#include <irrlicht.h>

namespace tessel {

// Non-owning references to the engine objects the per-frame jobs need; filled once at start-up,
// main thread only.
struct SSceneContext {
    irr::scene::ICameraSceneNode* camera = nullptr;
    irr::scene::ISceneManager* sceneManager = nullptr;
    irr::gui::IGUIEnvironment* guiEnvironment = nullptr;
    irr::video::IVideoDriver* videoDriver = nullptr;
    irr::ITimer* timer = nullptr;  // the device's virtual clock (sprite flights start "now")
};

extern SSceneContext sceneContext;

}  // namespace tessel
