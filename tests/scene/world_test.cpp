#include "scene/world.h"

#include <gtest/gtest.h>

#include "nodes/node_manager.h"
#include "scene/node_objects.h"
#include "support/worldnodes_support.h"

namespace tessel {
namespace {
using namespace irr;

TEST(WorldTest, BuildsCameraTerrainSkyAndCollisionWorld) {
    test::WorldFixtureDevice fixture;
    SWorld world = buildWorld(fixture.device());
    ASSERT_NE(world.camera, nullptr);
    EXPECT_EQ(world.camera->getTarget(), core::vector3df(5000, -3250, 5000));
    EXPECT_EQ(world.camera->getFarValue(), 20000.0f);
    EXPECT_EQ(world.camera->getPosition(), core::vector3df(0, 2500, 0));
    ASSERT_EQ(world.camera->getAnimators().size(), 2u);  // FPS control, then collision
    auto* fps =
        static_cast<scene::ISceneNodeAnimatorCameraFPS*>(*world.camera->getAnimators().begin());
    ASSERT_EQ(fps->getType(), scene::ESNAT_CAMERA_FPS);
    EXPECT_FLOAT_EQ(fps->getMoveSpeed(), 1.2f);

    ASSERT_NE(world.terrain, nullptr) << "needs res.dat with the heightmap";
    EXPECT_EQ(world.terrain->getID(), 1);
    EXPECT_FALSE(world.terrain->getMaterial(0).Lighting);
    EXPECT_NE(world.terrain->getMaterial(0).getTexture(0), nullptr);
    cCollisionWorlds& collision = *world.collision;
    EXPECT_TRUE(test::metaHolds(collision.worldSelector(), world.terrain->getTriangleSelector()));
    addSkyBox(fixture.scene(), fixture.device()->getVideoDriver());
    scene::ISceneNode* sky = fixture.scene()->getSceneNodeFromType(scene::ESNT_SKY_BOX);
    ASSERT_NE(sky, nullptr);
    EXPECT_EQ(sky->getID(), 2);

    // Walks keep a selector only while a fresh one would hold the same triangles.
    scene::ISceneManager* smgr = fixture.scene();
    scene::ITriangleSelector* terrainSelector = world.terrain->getTriangleSelector();
    scene::IMeshSceneNode* cube = smgr->addCubeSceneNode(250.0f);
    collision.createTriangleSelectors();
    scene::ITriangleSelector* cubeSelector = cube->getTriangleSelector();
    EXPECT_EQ(world.terrain->getTriangleSelector(), terrainSelector);
    cube->setPosition(core::vector3df(4000, 500, 4000));  // a box selector follows its node
    world.terrain->setScale(core::vector3df(50, 100, 50));
    collision.createTriangleSelectors();
    EXPECT_EQ(cube->getTriangleSelector(), cubeSelector);
    EXPECT_NE(world.terrain->getTriangleSelector(), terrainSelector);
    cube->setTriangleSelector(nullptr);  // not ours any more: made afresh
    collision.createTriangleSelectors();
    EXPECT_NE(cube->getTriangleSelector(), nullptr);
    collision.refreshWorldSelector();
    EXPECT_EQ(collision.worldSelector()->getSelectorCount(), 2u);
    EXPECT_TRUE(test::metaHolds(collision.worldSelector(), cube->getTriangleSelector()));
    EXPECT_TRUE(test::metaHolds(collision.worldSelector(), world.terrain->getTriangleSelector()));
}

TEST(WorldTest, MissingHeightmapLeavesNoTerrain) {
    test::WorldFixtureDevice fixture(false);
    SWorld world = buildWorld(fixture.device());
    EXPECT_NE(world.camera, nullptr);
    EXPECT_EQ(world.terrain, nullptr);
    ASSERT_NE(world.collision, nullptr);
    EXPECT_EQ(world.collision->worldSelector()->getSelectorCount(), 0u);
}

// Pushes the camera by `step` once per frame, the engine clock driven by hand.
core::vector3df pushCamera(IrrlichtDevice* device, cCollisionWorlds& collision,
                           core::vector3df step, u32* now) {
    scene::ICameraSceneNode* camera = device->getSceneManager()->getActiveCamera();
    for (int frame = 0; frame < 20; ++frame) {
        device->getTimer()->setTime(*now += 20);
        camera->setPosition(camera->getPosition() + step);
        device->getSceneManager()->drawAll();
        collision.refreshWorldSelector();  // end of frame, as the loop does
    }
    return camera->getPosition();
}

TEST(WorldTest, CameraIsStoppedByANewCubeFromTheNextFrame) {
    test::WorldFixtureDevice fixture;
    IrrlichtDevice* device = fixture.device();
    device->getTimer()->stop();
    u32 now = 1000;
    device->getTimer()->setTime(now);
    SWorld world = buildWorld(device);
    world.camera->setPosition(core::vector3df(500, 500, 1500));  // level with this host's cube
    device->getSceneManager()->drawAll();
    EXPECT_NEAR(pushCamera(device, *world.collision, core::vector3df(0, 0, -100), &now).Z, -500.0f,
                1.0f);

    test::testNodes().addLocalNode("192.168.1.10");
    SSceneContext context = test::testSceneContext();
    context.sceneManager = device->getSceneManager();
    context.videoDriver = device->getVideoDriver();
    context.collisionWorlds = world.collision.get();
    createNodeObjects(context);
    world.collision->refreshWorldSelector();
    // The turning 300-unit cube spans about z 350..650: the camera is held at its near face,
    // sliding sideways along it at most.
    const float z = pushCamera(device, *world.collision, core::vector3df(0, 0, 100), &now).Z;
    EXPECT_LT(z, 400.0f);
    EXPECT_GT(z, 250.0f);
}

}  // namespace
}  // namespace tessel
