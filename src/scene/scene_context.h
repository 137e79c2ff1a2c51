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
};

extern SSceneContext sceneContext;

}  // namespace tessel
