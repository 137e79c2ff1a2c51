#include "scene/world.h"

#include "scene/particle_impacts.h"
#include "scene/scene_context.h"

namespace tessel {
using namespace irr;

SWorld buildWorld(IrrlichtDevice* device) {
    SWorld world;
    if (!device) return world;
    scene::ISceneManager* smgr = device->getSceneManager();
    video::IVideoDriver* driver = device->getVideoDriver();

    // Move speed is in units per millisecond here: 1.2 is 1200 units a second.
    world.camera = smgr->addCameraSceneNodeFPS(nullptr, 100.0f, 1.2f, 1, nullptr, 0, false, 0.0f);
    world.camera->setPosition(kHomePosition);
    world.camera->setTarget(kViewTarget);
    world.camera->setFarValue(kViewFar);

    world.terrain = smgr->addTerrainSceneNode("Media/terrain-flatheightmap.jpg", nullptr, -1,
                                              core::vector3df(0, 0, 0), core::vector3df(0, 0, 0),
                                              core::vector3df(1, 1, 1), video::SColor(0xFFFFFFFF),
                                              5, scene::ETPS_17, 0);
    if (world.terrain) {
        world.terrain->setPosition(core::vector3df(0, 0, 0));
        world.terrain->setScale(core::vector3df(100, 100, 100));
        world.terrain->setMaterialFlag(video::EMF_LIGHTING, false);
        world.terrain->setMaterialTexture(0, driver->getTexture("Media/grid.jpg"));
        world.terrain->setID(1);
    }

    world.collision = std::make_unique<cCollisionWorlds>(smgr);
    world.collision->createTriangleSelectors();
    world.collision->fillWorldSelector(world.collision->worldSelector());
    world.collision->giveCameraResponse(world.camera);
    forgetImpactRates();
    return world;
}

void addSkyBox(scene::ISceneManager* sceneManager, video::IVideoDriver* driver) {
    if (!sceneManager || !driver) return;
    video::ITexture* tile[6];
    for (video::ITexture*& t : tile) t = driver->getTexture("Media/blacktile.jpg");
    scene::ISceneNode* sky = sceneManager->addSkyBoxSceneNode(tile[0], tile[1], tile[2], tile[3],
                                                              tile[4], tile[5], nullptr, -1);
    if (sky) sky->setID(2);
}

}  // namespace tessel
