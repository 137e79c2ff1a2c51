#pragma once
#include <irrlicht.h>

#include <memory>

#include "scene/collision_worlds.h"

namespace tessel {

// The fixed world: FPS camera (id 1), flat terrain (id 1), sky box (id 2) and the collision
// worlds, the camera's among them. Main thread only.
struct SWorld {
    irr::scene::ICameraSceneNode* camera = nullptr;
    irr::scene::ITerrainSceneNode* terrain = nullptr;  // null when the heightmap is missing
    std::unique_ptr<cCollisionWorlds> collision;
};

// The views of the world: where the camera starts (and the tour ends), the point every fixed
// view and the tour look at, and how far the cameras see.
inline const irr::core::vector3df kHomePosition(0.0f, 2500.0f, 0.0f);
inline const irr::core::vector3df kViewTarget(5000.0f, -3250.0f, 5000.0f);
constexpr irr::f32 kViewFar = 20000.0f;
// Levels of detail of the terrain.
constexpr irr::s32 kTerrainMaxLod = 5;

// Camera, terrain, triangle selectors, collision world and camera collision.
SWorld buildWorld(irr::IrrlichtDevice* device);
// The black sky box; called after mip-map creation has been switched off again. True when its
// tiles are all black: the node is then hidden and the frame must be cleared to opaque black.
bool addSkyBox(irr::scene::ISceneManager* sceneManager, irr::video::IVideoDriver* driver);

}  // namespace tessel
