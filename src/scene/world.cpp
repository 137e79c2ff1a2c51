// PLACEHOLDER until the world lands.
#include "scene/world.h"

#include "scene/scene_context.h"

namespace tessel {
using namespace irr;
scene::IMetaTriangleSelector* worldSelector = nullptr;
SSceneContext sceneContext;

SWorld buildWorld(IrrlichtDevice* device) {
    SWorld w;
    w.camera = device->getSceneManager()->addCameraSceneNodeFPS(0, 100.0f, 1.2f, 1);
    return w;
}
void addSkyBox(scene::ISceneManager*, video::IVideoDriver*) {}
void createTriangleSelectors(scene::ISceneManager*, io::IFileSystem*) {}
void fillWorldSelector(scene::ISceneManager*, scene::IMetaTriangleSelector*) {}
void refreshWorldSelector(scene::ISceneManager*) {}
}  // namespace tessel
