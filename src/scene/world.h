#pragma once
#include <irrlicht.h>

namespace tessel {

// The fixed world: FPS camera (id 1), flat terrain (id 1), sky box (id 2) and the collision world
// of the camera. Main thread only.
struct SWorld {
    irr::scene::ICameraSceneNode* camera = nullptr;
    irr::scene::ITerrainSceneNode* terrain = nullptr;  // null when the heightmap is missing
};

// The camera's collision world; refilled every frame. Owned by the camera's collision animator.
extern irr::scene::IMetaTriangleSelector* worldSelector;

// Camera, terrain, triangle selectors, collision world and camera collision.
SWorld buildWorld(irr::IrrlichtDevice* device);
// The black sky box; called after mip-map creation has been switched off again.
void addSkyBox(irr::scene::ISceneManager* sceneManager, irr::video::IVideoDriver* driver);

// Gives every node of a known type (octree, mesh, animated mesh, terrain, cube) a triangle
// selector, walking the whole scene depth first.
void createTriangleSelectors(irr::scene::ISceneManager* sceneManager, irr::io::IFileSystem* fs);
// Adds every node's triangle selector to `meta`, same walk.
void fillWorldSelector(irr::scene::ISceneManager* sceneManager,
                       irr::scene::IMetaTriangleSelector* meta);
// Each frame after endScene: empty worldSelector and fill it again.
void refreshWorldSelector(irr::scene::ISceneManager* sceneManager);

}  // namespace tessel
