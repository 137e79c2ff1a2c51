#pragma once
#include <irrlicht.h>

#include "core/vec3.h"

namespace tessel {

class cCollisionWorlds;
class cConnectionList;
class cNodeManager;
class cProgramTable;

// Non-owning references to the engine objects and the lists the per-frame jobs need; filled
// once at start-up, main thread only.
struct SSceneContext {
    irr::scene::ICameraSceneNode* camera = nullptr;
    irr::scene::ISceneManager* sceneManager = nullptr;
    irr::gui::IGUIEnvironment* guiEnvironment = nullptr;
    irr::video::IVideoDriver* videoDriver = nullptr;
    irr::ITimer* timer = nullptr;  // the device's virtual clock (sprite flights start "now")
    cCollisionWorlds* collisionWorlds = nullptr;  // owned by the world (SWorld)
    cNodeManager* nodes = nullptr;                // owned by the run
    cConnectionList* connections = nullptr;       // owned by the run
    const cProgramTable* programs = nullptr;      // owned by the run; null: none looked for
    bool skyCleared = false;  // the sky box is hidden: the frame is cleared to its black instead
};

// Engine position of a node-list position.
inline irr::core::vector3df toVector(const Vec3& v) { return irr::core::vector3df(v.X, v.Y, v.Z); }

}  // namespace tessel
