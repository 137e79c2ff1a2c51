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
                                              kTerrainMaxLod, scene::ETPS_17, 0);
    if (world.terrain) {
        world.terrain->setPosition(core::vector3df(0, 0, 0));
        world.terrain->setScale(core::vector3df(100, 100, 100));
        world.terrain->setMaterialFlag(video::EMF_LIGHTING, false);
        world.terrain->setMaterialTexture(0, driver->getTexture("Media/grid.jpg"));
        world.terrain->setID(1);
        // On a flat heightmap every level of detail is the same plane with the same texture
        // coordinates, so where they are interpolated with perspective (OpenGL, llvmpipe too)
        // the coarsest one everywhere draws the same picture (a few edge pixels of grid lines
        // round the other way) from a fraction of the triangles, which a software rasteriser
        // sets up one by one every frame. The software driver interpolates across each triangle
        // on the screen: there large triangles would bend the grid.
        if (driver->getDriverType() == video::EDT_OPENGL &&
            world.terrain->getBoundingBox().getExtent().Y == 0.0f)
            for (s32 lod = 0; lod < kTerrainMaxLod; ++lod)
                world.terrain->overrideLODDistance(lod, 0.0);
    }

    world.collision = std::make_unique<cCollisionWorlds>(smgr);
    world.collision->createTriangleSelectors();
    world.collision->fillWorldSelector(world.collision->worldSelector());
    world.collision->giveCameraResponse(world.camera);
    forgetImpactRates();
    return world;
}

namespace {

// True when every texel of the texture is black; false when it cannot be read.
bool allBlack(video::ITexture* texture) {
    if (!texture) return false;
    const auto* data = static_cast<const u8*>(texture->lock(video::ETLM_READ_ONLY));
    if (!data) return false;
    const core::dimension2d<u32> size = texture->getSize();
    const video::ECOLOR_FORMAT format = texture->getColorFormat();
    bool black = format == video::ECF_A8R8G8B8 || format == video::ECF_A1R5G5B5 ||
                 format == video::ECF_R5G6B5 || format == video::ECF_R8G8B8;
    for (u32 y = 0; black && y < size.Height; ++y) {
        const u8* row = data + y * texture->getPitch();
        for (u32 x = 0; black && x < size.Width; ++x) {
            if (format == video::ECF_A8R8G8B8)
                black = (reinterpret_cast<const u32*>(row)[x] & 0x00FFFFFFu) == 0;
            else if (format == video::ECF_A1R5G5B5)
                black = (reinterpret_cast<const u16*>(row)[x] & 0x7FFFu) == 0;
            else if (format == video::ECF_R5G6B5)
                black = reinterpret_cast<const u16*>(row)[x] == 0;
            else
                black = (row[3 * x] | row[3 * x + 1] | row[3 * x + 2]) == 0;
        }
    }
    texture->unlock();
    return black;
}

}  // namespace

bool addSkyBox(scene::ISceneManager* sceneManager, video::IVideoDriver* driver) {
    if (!sceneManager || !driver) return false;
    video::ITexture* tile[6];
    for (video::ITexture*& t : tile) t = driver->getTexture("Media/blacktile.jpg");
    scene::ISceneNode* sky = sceneManager->addSkyBoxSceneNode(tile[0], tile[1], tile[2], tile[3],
                                                              tile[4], tile[5], nullptr, -1);
    if (!sky) return false;
    sky->setID(2);
    // Black tiles cost the rasteriser a screen of texturing each frame; clearing the frame to
    // black gives the same pixels.
    for (video::ITexture* t : tile)
        if (!allBlack(t)) return false;
    sky->setVisible(false);
    return true;
}

}  // namespace tessel
